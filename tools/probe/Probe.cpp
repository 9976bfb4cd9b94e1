#include "Probe.h"

#include "engine/DecimalText.h"
#include "engine/RunSettings.h"
#include "engine/TargetPaths.h"
#include "platform/ConsoleKey.h"
#include "platform/ConsoleOutput.h"
#include "platform/Text.h"

namespace wf {
namespace {

constexpr size_t kMaxFields = 3;

// Splits "NAME=a|b|c" into the name and up to three fields.
struct Operation {
  PathText name;
  PathText fields[kMaxFields];
  size_t fieldCount = 0;

  explicit Operation(const char16_t* text) {
    size_t i = 0;
    while (text[i] != 0 && text[i] != u'=') ++i;
    name.Assign(text, i);
    if (text[i] == 0) return;
    const char16_t* p = text + i + 1;
    for (;;) {
      size_t n = 0;
      while (p[n] != 0 && p[n] != u'|') ++n;
      if (fieldCount < kMaxFields) fields[fieldCount++].Assign(p, n);
      if (p[n] == 0) break;
      p += n + 1;
    }
  }
  const char16_t* Field(size_t i) const { return i < fieldCount ? fields[i].Data() : u""; }
};

void Enumerate(Platform& platform, const char16_t* keyPath) {
  RegKey key = kNoKey;
  int32_t status = platform.RegOpenKeyEx(kHKeyLocalMachine, keyPath, 0, kKeyRead, &key);
  ConsolePrint(u"\nenum %s: open %d", keyPath, status);
  if (status != 0) return;
  for (uint32_t index = 0;; ++index) {
    PathText name;
    uint32_t chars = static_cast<uint32_t>(PathText::kCapacity);
    status = platform.RegEnumKeyEx(key, index, name.chars, &chars);
    if (status != 0) {
      ConsolePrint(u"\n  [%u] status %d", index, status);
      break;
    }
    ConsolePrint(u"\n  [%u] %s (%u)", index, name.Data(), chars);
  }
  platform.RegCloseKey(key);
}

void Query(Platform& platform, const Operation& op) {
  RegKey key = kNoKey;
  int32_t status = platform.RegOpenKeyEx(kHKeyLocalMachine, op.Field(0), 0, kKeyRead, &key);
  ConsolePrint(u"\nquery %s|%s: open %d", op.Field(0), op.Field(1), status);
  if (status != 0) return;
  const int64_t offered = ParseDecimalSigned(op.Field(2));
  uint8_t data[1024] = {};
  uint32_t bytes = offered < 0 ? 0u : offered > 1024 ? 1024u : static_cast<uint32_t>(offered);
  uint32_t type = 0;
  status = platform.RegQueryValueEx(key, op.Field(1), &type, data, &bytes);
  ConsolePrint(u", status %d, type %u, bytes %u, data", status, type, bytes);
  const uint32_t shown = status == 0 && bytes <= sizeof data ? bytes : 0;
  for (uint32_t i = 0; i < shown; ++i) ConsolePrint(u" %u", static_cast<uint32_t>(data[i]));
  platform.RegCloseKey(key);
}

void DeleteKey(Platform& platform, const Operation& op) {
  RegKey key = kNoKey;
  int32_t status =
      platform.RegOpenKeyEx(kHKeyLocalMachine, op.Field(0), 0, kKeyRead | kDelete, &key);
  ConsolePrint(u"\ndeletekey %s|%s: open %d", op.Field(0), op.Field(1), status);
  if (status != 0) return;
  status = platform.RegDeleteKey(key, op.Field(1));
  ConsolePrint(u", delete %d", status);
  platform.RegCloseKey(key);
}

void Find(Platform& platform, const char16_t* path) {
  FindData data;
  platform.SetLastError(0);
  const FileHandle handle = platform.FindFirstFile(path, &data);
  const uint32_t error = platform.GetLastError();
  ConsolePrint(u"\nfind %s: error %u, found %d", path, error,
               static_cast<int32_t>(handle != kInvalidHandle));
  if (handle == kInvalidHandle) return;
  ConsolePrint(u", directory %d",
               static_cast<int32_t>((data.attributes & kFileAttributeDirectory) != 0));
  platform.FindClose(handle);
}

void OpenExclusive(Platform& platform, const char16_t* path) {
  platform.SetLastError(0);
  const FileHandle handle = platform.CreateFile(path, kGenericRead | kGenericWrite | kDelete, 0,
                                                kOpenExisting, kFileAttributeNormal);
  const uint32_t error = platform.GetLastError();
  ConsolePrint(u"\nopen %s: error %u, opened %d", path, error,
               static_cast<int32_t>(handle != kInvalidHandle));
  if (handle != kInvalidHandle) platform.CloseHandle(handle);
}

}  // namespace

int32_t ProbeMain(Platform& platform, int argc, const char16_t* const* argv) {
  ConsoleAttach(platform);
  RunSettings settings;
  int32_t result = 0;
  for (int i = 1; i < argc && result == 0; ++i) {
    const Operation op(argv[i]);
    const char16_t* name = op.name.Data();
    if (Equals(name, u"trace")) {
      settings.Trace = 1;
    } else if (Equals(name, u"enum")) {
      Enumerate(platform, op.Field(0));
    } else if (Equals(name, u"query")) {
      Query(platform, op);
    } else if (Equals(name, u"deletekey")) {
      DeleteKey(platform, op);
    } else if (Equals(name, u"find")) {
      Find(platform, op.Field(0));
    } else if (Equals(name, u"open")) {
      OpenExclusive(platform, op.Field(0));
    } else if (Equals(name, u"build")) {
      uint32_t build = 0;
      const int32_t status = GetOSBuildNumber(platform, settings, op.Field(0), &build);
      ConsolePrint(u"\nbuild %s: status %d, build %u", op.Field(0), status, build);
    } else if (Equals(name, u"target")) {
      PathText path;
      path.Assign(op.Field(0));
      ToTargetPath(path.chars, op.Field(1));
      ConsolePrint(u"\ntarget [%s]", path.Data());
    } else if (Equals(name, u"free")) {
      int64_t megabytes = -1;
      const bool ok = GetFreeSpaceMB(platform, settings, op.Field(0), &megabytes);
      ConsolePrint(u"\nfree %s: ok %d, %I64d MB", op.Field(0), static_cast<int32_t>(ok), megabytes);
    } else if (Equals(name, u"key")) {
      ConsolePrint(u"\nkey %d", ReadConsoleKey(platform));
    } else if (Equals(name, u"errortext")) {
      LongText text;
      platform.GetSystemErrorText(ParseDecimalUnsigned(op.Field(0)), text.chars,
                                  static_cast<uint32_t>(LongText::kCapacity));
      ConsolePrint(u"\nerrortext %s: [%s]", op.Field(0), text.Data());
    } else {
      ConsolePrint(u"\nunknown operation %s", name);
      result = kErrorInvalidParameter;
    }
  }
  ConsolePrint(u"\n");
  ConsoleFlush();
  return result;
}

}  // namespace wf
