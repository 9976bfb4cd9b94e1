#include "Probe.h"

#include <cstring>

#include "engine/DecimalText.h"
#include "engine/RunSettings.h"
#include "engine/TargetPaths.h"
#include "platform/ConsoleKey.h"
#include "platform/ConsoleOutput.h"
#include "platform/Text.h"

namespace wf {
namespace {

constexpr size_t kMaxFields = 3;
constexpr int64_t kTicksPerMinute = 600000000;

// Room for any computer name (at most 15 characters on Windows).
using NameText = Text<64>;

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

// CHARS, when given, is the name buffer offered to every read.
void Enumerate(Platform& platform, const Operation& op) {
  const char16_t* keyPath = op.Field(0);
  const uint32_t offered = op.Field(1)[0] != 0 ? ParseDecimalUnsigned(op.Field(1))
                                               : static_cast<uint32_t>(PathText::kCapacity);
  RegKey key = kNoKey;
  int32_t status = platform.RegOpenKeyEx(kHKeyLocalMachine, keyPath, 0, kKeyRead, &key);
  ConsolePrint(u"\nenum %s: open %d", keyPath, status);
  if (status != 0) return;
  for (uint32_t index = 0;; ++index) {
    PathText name;
    uint32_t chars = offered < PathText::kCapacity ? offered : PathText::kCapacity;
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
  // Bytes the call does not write keep this value, so the two after the
  // data show whether a terminator was added there.
  uint8_t data[1024];
  std::memset(data, 0xAB, sizeof data);
  const uint32_t room = offered < 0 ? 0u : offered > 1024 ? 1024u : static_cast<uint32_t>(offered);
  uint32_t bytes = room;
  uint32_t type = 0;
  status = platform.RegQueryValueEx(key, op.Field(1), &type, data, &bytes);
  ConsolePrint(u", status %d, type %u, bytes %u, data", status, type, bytes);
  const uint32_t shown = status == 0 && bytes <= sizeof data ? bytes : 0;
  for (uint32_t i = 0; i < shown; ++i) ConsolePrint(u" %u", static_cast<uint32_t>(data[i]));
  if (status == 0 && bytes + 2 <= room) {
    ConsolePrint(u", then %u %u", static_cast<uint32_t>(data[bytes]),
                 static_cast<uint32_t>(data[bytes + 1]));
  }
  platform.RegCloseKey(key);
}

// With VALUE, the subkey is also held open across its deletion and read
// through that handle afterwards.
void DeleteKey(Platform& platform, const Operation& op) {
  RegKey key = kNoKey;
  int32_t status =
      platform.RegOpenKeyEx(kHKeyLocalMachine, op.Field(0), 0, kKeyRead | kDelete, &key);
  ConsolePrint(u"\ndeletekey %s|%s: open %d", op.Field(0), op.Field(1), status);
  if (status != 0) return;
  RegKey held = kNoKey;
  if (op.Field(2)[0] != 0) {
    ConsolePrint(u", hold %d", platform.RegOpenKeyEx(key, op.Field(1), 0, kKeyRead, &held));
  }
  status = platform.RegDeleteKey(key, op.Field(1));
  ConsolePrint(u", delete %d", status);
  platform.RegCloseKey(key);
  if (held == kNoKey) return;
  uint32_t bytes = 0;
  PathText name;
  uint32_t chars = static_cast<uint32_t>(PathText::kCapacity);
  const int32_t query = platform.RegQueryValueEx(held, op.Field(2), nullptr, nullptr, &bytes);
  const int32_t enumerate = platform.RegEnumKeyEx(held, 0, name.chars, &chars);
  ConsolePrint(u", then query %d, enum %d", query, enumerate);
  ConsolePrint(u", close %d", platform.RegCloseKey(held));
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

// Whole decimal numbers up to 2^64 - 1, as file times need them; larger
// ones saturate.
uint64_t ParseTicks(const char16_t* text) {
  uint64_t value = 0;
  for (; *text >= u'0' && *text <= u'9'; ++text) {
    const auto digit = static_cast<uint64_t>(*text - u'0');
    if (value > (UINT64_MAX - digit) / 10) return UINT64_MAX;
    value = value * 10 + digit;
  }
  return value;
}

// An access mask by its Windows name, or as a decimal number.
uint32_t ParseAccess(const char16_t* text) {
  struct Named {
    const char16_t* name;
    uint32_t mask;
  };
  static constexpr Named kNames[] = {
      {u"KEY_READ", kKeyRead},
      {u"KEY_QUERY_VALUE", kKeyQueryValue},
      {u"DELETE", kDelete},
      {u"KEY_ENUMERATE_SUB_KEYS", kKeyEnumerateSubKeys},
      {u"GENERIC_READ", kGenericRead},
      {u"KEY_ALL_ACCESS", kKeyAllAccess},
  };
  for (const Named& named : kNames) {
    if (Equals(text, named.name)) return named.mask;
  }
  return ParseDecimalUnsigned(text);
}

// A field as an optional text: empty means none.
const char16_t* Optional(const char16_t* text) {
  return text[0] == 0 ? nullptr : text;
}

// The name query offering CAPACITY characters. The name itself is learned
// first with room to spare, so that the size reported can be told as the
// name's length (success) or that length plus the terminator (too small).
void ComputerName(Platform& platform, const char16_t* capacityText) {
  NameText full;
  uint32_t fullSize = static_cast<uint32_t>(NameText::kCapacity);
  if (!platform.GetComputerName(full.chars, &fullSize)) full.Clear();
  const uint32_t length = static_cast<uint32_t>(full.Length());

  const int64_t asked = capacityText[0] == 0 ? 16 : ParseDecimalSigned(capacityText);
  NameText name;
  uint32_t size = asked < 0 ? 0u
                  : asked > static_cast<int64_t>(NameText::kCapacity)
                      ? static_cast<uint32_t>(NameText::kCapacity)
                      : static_cast<uint32_t>(asked);
  platform.SetLastError(0);
  const bool ok = platform.GetComputerName(name.chars, &size);
  const uint32_t error = platform.GetLastError();
  name.chars[NameText::kCapacity - 1] = 0;
  ConsolePrint(u"\nname %s: ok %d", capacityText, static_cast<int32_t>(ok));
  if (ok) {
    ConsolePrint(u", [%s], size length + %d", name.Data(),
                 static_cast<int32_t>(size) - static_cast<int32_t>(length));
  } else {
    ConsolePrint(u", error %u, size length + %d", error,
                 static_cast<int32_t>(size) - static_cast<int32_t>(length));
  }
}

void Version(Platform& platform, const char16_t* sizeText) {
  OsVersionInfo info;
  if (sizeText[0] != 0) info.size = ParseDecimalUnsigned(sizeText);
  platform.SetLastError(0);
  const bool ok = platform.GetVersionEx(&info);
  ConsolePrint(u"\nversion %s: ok %d", sizeText, static_cast<int32_t>(ok));
  if (ok) {
    ConsolePrint(u", %u.%u.%u, platform %u", info.majorVersion, info.minorVersion, info.buildNumber,
                 info.platformId);
  } else {
    ConsolePrint(u", error %u", platform.GetLastError());
  }
}

// The size returned, and the text only when it fit: after a cut the buffer's
// contents differ between systems, and the command never uses them.
void Expand(Platform& platform, const Operation& op) {
  LongText text;
  const int64_t asked = ParseDecimalSigned(op.Field(1));
  const uint32_t capacity = asked < 0 ? 0u
                            : asked > static_cast<int64_t>(LongText::kCapacity)
                                ? static_cast<uint32_t>(LongText::kCapacity)
                                : static_cast<uint32_t>(asked);
  const uint32_t needed = platform.ExpandEnvironmentStrings(op.Field(0), text.chars, capacity);
  text.chars[LongText::kCapacity - 1] = 0;
  const bool fits = needed != 0 && needed <= capacity;
  ConsolePrint(u"\nexpand %s|%u: returned %u, fits %d", op.Field(0), capacity, needed,
               static_cast<int32_t>(fits));
  if (fits) ConsolePrint(u", [%s]", text.Data());
}

// A "*" in the name stands for the running computer's own name, which the
// scenario cannot know under Wine.
void Connect(Platform& platform, const char16_t* written) {
  NameText own;
  uint32_t ownSize = static_cast<uint32_t>(NameText::kCapacity);
  if (!platform.GetComputerName(own.chars, &ownSize)) own.Clear();
  PathText name;
  for (const char16_t* c = written; *c != 0; ++c) {
    const char16_t one[2] = {*c, 0};
    name.Append(*c == u'*' ? own.Data() : one);
  }
  RegKey root = kNoKey;
  const int32_t status = platform.RegConnectRegistry(name.Data(), kHKeyLocalMachine, &root);
  ConsolePrint(u"\nconnect %s: status %d, key %d", written, status,
               static_cast<int32_t>(root != kNoKey));
  if (root != kNoKey) ConsolePrint(u", close %d", platform.RegCloseKey(root));
}

// Opens HKLM\KEY with ACCESS, then shows what the key allows: its first
// subkey and the size of VALUE.
void OpenKey(Platform& platform, const Operation& op) {
  RegKey key = kNoKey;
  const int32_t status =
      platform.RegOpenKeyEx(kHKeyLocalMachine, op.Field(0), 0, ParseAccess(op.Field(1)), &key);
  ConsolePrint(u"\nopenkey %s|%s: status %d", op.Field(0), op.Field(1), status);
  if (key == kNoKey) return;
  PathText name;
  uint32_t chars = static_cast<uint32_t>(PathText::kCapacity);
  const int32_t enumStatus = platform.RegEnumKeyEx(key, 0, name.chars, &chars);
  uint32_t type = 0;
  uint32_t bytes = 0;
  const int32_t queryStatus = platform.RegQueryValueEx(key, op.Field(2), &type, nullptr, &bytes);
  ConsolePrint(u", enum %d, query %s %d", enumStatus, op.Field(2), queryStatus);
  if (queryStatus == 0) ConsolePrint(u" (type %u, bytes %u)", type, bytes);
  ConsolePrint(u", close %d", platform.RegCloseKey(key));
}

void PrintCalendar(const SystemTime& t, bool withSeconds) {
  ConsolePrint(u"%u-%02u-%02u %02u:%02u", static_cast<uint32_t>(t.year),
               static_cast<uint32_t>(t.month), static_cast<uint32_t>(t.day),
               static_cast<uint32_t>(t.hour), static_cast<uint32_t>(t.minute));
  if (withSeconds) {
    ConsolePrint(u":%02u.%u", static_cast<uint32_t>(t.second),
                 static_cast<uint32_t>(t.milliseconds));
  }
  ConsolePrint(u" day %u", static_cast<uint32_t>(t.dayOfWeek));
}

// FileTimeToSystemTime of TICKS as they are.
void Calendar(Platform& platform, const char16_t* ticksText) {
  SystemTime calendar;
  platform.SetLastError(0);
  const bool ok = platform.FileTimeToSystemTime(ParseTicks(ticksText), &calendar);
  ConsolePrint(u"\ncalendar %s: ok %d, ", ticksText, static_cast<int32_t>(ok));
  if (ok) {
    PrintCalendar(calendar, true);
  } else {
    ConsolePrint(u"error %u", platform.GetLastError());
  }
}

// TICKS (UTC) to local time: the bias applied, in minutes (UTC = local +
// bias), and the local calendar form.
void LocalTime(Platform& platform, const char16_t* ticksText) {
  const FileTime utc = ParseTicks(ticksText);
  FileTime local = 0;
  platform.SetLastError(0);
  const bool ok = platform.FileTimeToLocalFileTime(utc, &local);
  ConsolePrint(u"\nlocaltime %s: ok %d", ticksText, static_cast<int32_t>(ok));
  if (!ok) {
    ConsolePrint(u", error %u", platform.GetLastError());
    return;
  }
  const auto bias = static_cast<int64_t>(utc - local) / kTicksPerMinute;
  SystemTime calendar;
  const bool calendarOk = platform.FileTimeToSystemTime(local, &calendar);
  ConsolePrint(u", bias %I64d, ", bias);
  if (calendarOk) {
    PrintCalendar(calendar, true);
  } else {
    ConsolePrint(u"calendar error %u", platform.GetLastError());
  }
}

// The clock, in UTC and local calendar form to the minute: a program run
// takes a moment, so seconds are left out.
void Now(Platform& platform) {
  const FileTime utc = platform.GetSystemTimeAsFileTime();
  FileTime local = 0;
  SystemTime utcCalendar;
  SystemTime localCalendar;
  const bool ok = platform.FileTimeToSystemTime(utc, &utcCalendar) &&
                  platform.FileTimeToLocalFileTime(utc, &local) &&
                  platform.FileTimeToSystemTime(local, &localCalendar);
  ConsolePrint(u"\nnow: ok %d", static_cast<int32_t>(ok));
  if (!ok) return;
  ConsolePrint(u", utc ");
  PrintCalendar(utcCalendar, false);
  ConsolePrint(u", local ");
  PrintCalendar(localCalendar, false);
}

// The raw free-space query. The figures are the machine's own under Wine,
// so only how they relate is shown.
void DiskFree(Platform& platform, const char16_t* path) {
  uint64_t available = 0;
  uint64_t total = 0;
  uint64_t totalFree = 0;
  platform.SetLastError(0);
  const bool ok = platform.GetDiskFreeSpaceEx(path, &available, &total, &totalFree);
  ConsolePrint(u"\ndiskfree %s: ok %d", path, static_cast<int32_t>(ok));
  if (ok) {
    ConsolePrint(u", available<=free %d, free<=total %d, total>0 %d",
                 static_cast<int32_t>(available <= totalFree),
                 static_cast<int32_t>(totalFree <= total), static_cast<int32_t>(total > 0));
  } else {
    ConsolePrint(u", error %u", platform.GetLastError());
  }
}

// DeleteProfileW; an empty path or computer is passed as none.
void DeleteProfile(Platform& platform, const Operation& op) {
  platform.SetLastError(0);
  const bool ok = platform.DeleteProfile(op.Field(0), Optional(op.Field(1)), Optional(op.Field(2)));
  ConsolePrint(u"\ndeleteprofile %s|%s|%s: ok %d", op.Field(0), op.Field(1), op.Field(2),
               static_cast<int32_t>(ok));
  if (!ok) ConsolePrint(u", error %u", platform.GetLastError());
}

// A connection to a WMI namespace, up to two deletions through it, release.
void Wmi(Platform& platform, const Operation& op) {
  WmiServices services = kNoServices;
  const int32_t status = platform.ConnectServer(op.Field(0), &services);
  ConsolePrint(u"\nwmi %s: connect %d", op.Field(0), status);
  if (status != 0) return;
  for (size_t i = 1; i < op.fieldCount; ++i) {
    ConsolePrint(u", delete %s: %d", op.Field(i), platform.DeleteInstance(services, op.Field(i)));
  }
  platform.ReleaseServices(services);
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
      Enumerate(platform, op);
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
    } else if (Equals(name, u"name")) {
      ComputerName(platform, op.Field(0));
    } else if (Equals(name, u"version")) {
      Version(platform, op.Field(0));
    } else if (Equals(name, u"expand")) {
      Expand(platform, op);
    } else if (Equals(name, u"connect")) {
      Connect(platform, op.Field(0));
    } else if (Equals(name, u"openkey")) {
      OpenKey(platform, op);
    } else if (Equals(name, u"calendar")) {
      Calendar(platform, op.Field(0));
    } else if (Equals(name, u"localtime")) {
      LocalTime(platform, op.Field(0));
    } else if (Equals(name, u"now")) {
      Now(platform);
    } else if (Equals(name, u"diskfree")) {
      DiskFree(platform, op.Field(0));
    } else if (Equals(name, u"deleteprofile")) {
      DeleteProfile(platform, op);
    } else if (Equals(name, u"wmi")) {
      Wmi(platform, op);
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
