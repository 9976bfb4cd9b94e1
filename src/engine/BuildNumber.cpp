#include "engine/DecimalText.h"
#include "engine/RegistryGuard.h"
#include "engine/TargetPaths.h"
#include "platform/ConsoleOutput.h"
#include "platform/Guards.h"
#include "platform/Text.h"

namespace wf {
namespace {

struct RemoteBuildQuery {
  Platform& platform;
  const RunSettings& settings;
  const char16_t* computerName;
  RegKey root = kNoKey;
  RegKey key = kNoKey;

  int32_t Run(uint32_t* build) {
    int32_t status = CallUnderDelayLoadGuard(platform, GuardMessageStyle::NewLine, [&] {
      return platform.RegConnectRegistry(computerName, kHKeyLocalMachine, &root);
    });
    if (settings.Trace != 0) {
      ConsolePrint(u"\nRegConnectRegistry(%s) returned %d", computerName, status);
    }
    if (status != 0) {
      root = kNoKey;
      ConsolePrint(u"\n\nFailed to open \"\\\\%s\\PIPE\\winreg\\\", system error %d has occurred.",
                   computerName, status);
      return status;
    }

    bool returned = false;
    status = CallUnderDelayLoadGuard(
        platform, GuardMessageStyle::NewLine,
        [&] { return platform.RegOpenKeyEx(root, kCurrentVersionKey, 0, kKeyRead, &key); },
        &returned);
    if (returned && settings.Trace != 0) {
      ConsolePrint(u"\nRegOpenKeyEx(%s) returned %d", kCurrentVersionKey, status);
    }
    if (status != 0) {
      key = kNoKey;
      ConsolePrint(u"\n\nFailed to open \"\\\\%s\\HKLM\\%s\", system error %d has occurred.",
                   computerName, kCurrentVersionKey, status);
      return status;
    }

    PathText text;
    uint32_t type = 0;
    uint32_t bytes = PathText::ByteSize();
    status = platform.RegQueryValueEx(key, u"CurrentBuildNumber", &type,
                                      reinterpret_cast<uint8_t*>(text.chars), &bytes);
    if (status != 0) {
      ConsolePrint(
          u"\n\nFailed to query \"\\\\%s\\HKLM\\%s\\CurrentBuildNumber\", system error %d has "
          u"occurred.",
          computerName, kCurrentVersionKey, status);
      return status;
    }
    if (type != kRegSz && type != kRegExpandSz) {
      ConsolePrint(
          u"\n\nFailed to query \"\\\\%s\\HKLM\\%s\\CurrentBuildNumber\", an invalid registry "
          u"type (%u) was found.",
          computerName, kCurrentVersionKey, type);
      return kErrorInvalidData;
    }
    // Cut at the returned length: a value stored with its terminator keeps
    // all its text, one stored without loses its last character.
    const size_t chars = bytes / 2;
    if (chars >= 1 && chars <= PathText::kCapacity) text.chars[chars - 1] = 0;
    text.chars[PathText::kCapacity - 1] = 0;
    if (settings.Trace != 0) ConsolePrint(u"\nCurrentBuildNumber: [%s]", text.Data());
    *build = ParseDecimalUnsigned(text.Data());
    return 0;
  }

  // Closes the key, then the connection, each only if it was opened.
  void Close() {
    if (key != kNoKey) platform.RegCloseKey(key);
    if (root != kNoKey) platform.RegCloseKey(root);
    key = kNoKey;
    root = kNoKey;
  }
};

}  // namespace

int32_t GetOSBuildNumber(Platform& platform, const RunSettings& settings,
                         const char16_t* computerName, uint32_t* build) {
  *build = 0;
  if (computerName == nullptr || computerName[0] == 0) {
    OsVersionInfo info;
    info.size = 276;
    if (!platform.GetVersionEx(&info)) return static_cast<int32_t>(platform.GetLastError());
    *build = info.buildNumber;
    return 0;
  }

  RemoteBuildQuery query{platform, settings, computerName};
  int32_t status = 0;
  RunWithClosing(
      platform, [&] { status = query.Run(build); }, [&] { query.Close(); });
  return status;
}

}  // namespace wf
