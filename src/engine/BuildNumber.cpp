#include "engine/DecimalText.h"
#include "engine/RegistryGuard.h"
#include "engine/RegistryText.h"
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

  int32_t Run(uint32_t* build, TargetSystemRoot* systemRoot) {
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
    const RegistryTextRead read = ReadRegistryText(platform, key, u"CurrentBuildNumber", text);
    if (read.status != 0) {
      ConsolePrint(
          u"\n\nFailed to query \"\\\\%s\\HKLM\\%s\\CurrentBuildNumber\", system error %d has "
          u"occurred.",
          computerName, kCurrentVersionKey, read.status);
      return read.status;
    }
    if (!read.ok) {
      ConsolePrint(
          u"\n\nFailed to query \"\\\\%s\\HKLM\\%s\\CurrentBuildNumber\", an invalid registry "
          u"type (%u) was found.",
          computerName, kCurrentVersionKey, read.type);
      return kErrorInvalidData;
    }
    if (settings.Trace != 0) ConsolePrint(u"\nCurrentBuildNumber: [%s]", text.Data());
    *build = ParseDecimalUnsigned(text.Data());
    if (systemRoot != nullptr) ReadSystemRoot(*systemRoot);
    return 0;
  }

  // The target's SystemRoot, beside its build. What cannot be read, or is
  // no drive path, leaves the status ERROR_ENVVAR_NOT_FOUND: the target's
  // variables are then unknown, and none of its paths is expanded.
  void ReadSystemRoot(TargetSystemRoot& systemRoot) {
    systemRoot.status = kErrorEnvvarNotFound;
    const RegistryTextRead read = ReadRegistryText(platform, key, u"SystemRoot", systemRoot.text);
    if (!read.ok) {
      systemRoot.text.Clear();
      if (settings.Trace != 0) {
        ConsolePrint(u"\nRegQueryValueEx(SystemRoot) failed with error %d", read.status);
      }
      return;
    }
    if (settings.Trace != 0) ConsolePrint(u"\nSystemRoot: [%s]", systemRoot.text.Data());
    if (IsDrivePath(systemRoot.text.Data())) systemRoot.status = 0;
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

bool IsDrivePath(const char16_t* text) {
  const char16_t letter = FoldAZ(text[0]);
  return letter >= u'a' && letter <= u'z' && text[1] == u':' && text[2] == u'\\';
}

int32_t GetOSBuildNumber(Platform& platform, const RunSettings& settings,
                         const char16_t* computerName, uint32_t* build,
                         TargetSystemRoot* systemRoot) {
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
      platform, [&] { status = query.Run(build, systemRoot); }, [&] { query.Close(); });
  return status;
}

}  // namespace wf
