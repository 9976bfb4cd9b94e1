#include "engine/ProcessTarget.h"

#include "engine/ErrorText.h"
#include "engine/ProfileWalk.h"
#include "engine/RegistryGuard.h"
#include "engine/RegistryText.h"
#include "engine/TargetPaths.h"
#include "platform/ConsoleOutput.h"
#include "platform/Guards.h"

namespace wf {
namespace {

constexpr uint32_t kLaterLayoutBuild = 6000;
constexpr char16_t kDefaultProfilesDirectory[] = u"%SystemDrive%\\Documents and Settings";

// Reads one of the folder values of ProfileList; a value that is missing,
// unreadable, too long or not text leaves the text empty.
RegistryTextRead ReadFolderValue(Platform& platform, const RunSettings& settings, RegKey list,
                                 const char16_t* valueName, bool isProfilesDirectory,
                                 PathText& text) {
  const RegistryTextRead read = ReadRegistryText(platform, list, valueName, text);
  if (settings.Trace == 0) return read;
  if (read.ok) {
    ConsolePrint(u"\nFolderBuffer: [%s]", text.Data());
  } else if (isProfilesDirectory) {
    ConsolePrint(u"\nRegQueryValueEx(ProfilesDirectory) failed with error %d", read.status);
  } else {
    ConsolePrint(u"\nRegQueryValueEx(%s) failed with error %d", valueName, read.status);
    ConsolePrint(u"\nFolderBuffer: [%s]", text.Data());
  }
  return read;
}

struct SpecialFolder {
  const char16_t* laterValue;  // build 6000 and later
  const char16_t* laterName;
  const char16_t* earlierValue;  // earlier builds
  const char16_t* earlierName;
};

// Every later decision rests on the three folders, so they must be known
// exactly: a value that exists but cannot be read, or a folder that cannot
// be expanded or would be cut, ends the pass before the walk. A missing,
// too long or non-text value takes its default, as described.
int32_t CheckFolderRead(Platform& platform, const RegistryTextRead& read,
                        const char16_t* valueName) {
  if (read.status == 0 || read.status == static_cast<int32_t>(kErrorFileNotFound) ||
      read.status == static_cast<int32_t>(kErrorMoreData)) {
    return 0;
  }
  ConsolePrint(u"\n\nFailed to query \"HKLM\\%s\\%s\", system error %d has occurred.",
               kProfileListKeyPath, valueName, read.status);
  PrintErrorText(platform, read.status);
  return read.status;
}

void ReportUnusableFolder(Platform& platform, const char16_t* source, int32_t status) {
  ConsolePrint(u"\n\nFailed to expand \"%s\", system error %d has occurred.", source, status);
  PrintErrorText(platform, status);
}

// Expands source as the pass's target does into folder and puts it in
// target form; 0, or the status that ends the pass when the expansion fails
// or the folder would be cut.
int32_t ExpandFolder(Platform& platform, const TargetContext& context, const char16_t* source,
                     PathText& folder, const char16_t* computerName) {
  const auto status = static_cast<int32_t>(ExpandTargetPath(
      platform, context.Expansion(), source, computerName, kPathChars - 1, folder.chars));
  if (status != 0) ReportUnusableFolder(platform, source, status);
  return status;
}

// The all-users or default-user folder: a full path in later layouts, a
// folder name under the profiles directory in earlier ones; the default
// name when the value is missing.
int32_t DiscoverSpecialFolder(Platform& platform, const RunSettings& settings,
                              TargetContext& context, const SpecialFolder& folder,
                              PathText& field) {
  const bool later = context.BuildNumber >= kLaterLayoutBuild;
  const char16_t* valueName = later ? folder.laterValue : folder.earlierValue;
  PathText text;
  const RegistryTextRead read =
      ReadFolderValue(platform, settings, context.ProfileListKey, valueName, false, text);
  if (const int32_t status = CheckFolderRead(platform, read, valueName)) return status;
  PathText working;
  if (later && !text.Empty()) {
    const int32_t status =
        ExpandFolder(platform, context, text.Data(), working, context.ComputerName.Get());
    if (status != 0) return status;
  } else {
    const char16_t* name = !text.Empty() ? text.Data()
                           : later       ? folder.laterName
                                         : folder.earlierName;
    working.Assign(context.ProfilesDirectory.Data());
    if (context.ProfilesDirectory.Length() + TextLength(name) > kPathChars - 1) {
      const auto status = static_cast<int32_t>(kErrorFilenameTooLong);
      ReportUnusableFolder(platform, name, status);
      return status;
    }
    working.Append(name);
  }
  return ExpandFolder(platform, context, working.Data(), field, nullptr);
}

int32_t DiscoverFolders(Platform& platform, const RunSettings& settings, TargetContext& context) {
  PathText text;
  const RegistryTextRead read =
      ReadFolderValue(platform, settings, context.ProfileListKey, u"ProfilesDirectory", true, text);
  if (const int32_t status = CheckFolderRead(platform, read, u"ProfilesDirectory")) return status;
  if (text.Empty()) text.Assign(kDefaultProfilesDirectory);
  int32_t status = ExpandFolder(platform, context, text.Data(), context.ProfilesDirectory,
                                context.ComputerName.Get());
  if (status != 0) return status;
  if (settings.Trace != 0) {
    ConsolePrint(u"\nProfilesDirectory: [%s]", context.ProfilesDirectory.Data());
  }

  static constexpr SpecialFolder kAllUsers = {u"Public", u"Public", u"AllUsersProfile",
                                              u"All Users"};
  static constexpr SpecialFolder kDefaultUser = {u"Default", u"Default", u"DefaultUserProfile",
                                                 u"Default User"};
  status = DiscoverSpecialFolder(platform, settings, context, kAllUsers, context.AllUsersProfile);
  if (status != 0) return status;
  if (settings.Trace != 0) {
    ConsolePrint(u"\nAllUsersProfile: [%s]", context.AllUsersProfile.Data());
  }
  status =
      DiscoverSpecialFolder(platform, settings, context, kDefaultUser, context.DefaultUserProfile);
  if (status != 0) return status;
  if (settings.Trace != 0) {
    ConsolePrint(u"\nDefaultUserProfile: [%s]", context.DefaultUserProfile.Data());
  }
  return 0;
}

// The steps of the pass up to the second free-space measurement; every
// early return leaves the rest to the closing steps.
int32_t RunPass(Platform& platform, const RunSettings& settings, const char16_t* computerName,
                TargetContext& context) {
  // A failing name query leaves the name empty; the buffer may hold
  // anything then.
  uint32_t size = static_cast<uint32_t>(kComputerNameChars);
  if (!platform.GetComputerName(context.LocalComputerName.chars, &size)) {
    context.LocalComputerName.Clear();
  }
  context.LocalComputerName.chars[kComputerNameChars - 1] = 0;

  // No name, an empty one, "." or the running computer's own name (A to Z in
  // any case) mean the local computer.
  if (computerName != nullptr && computerName[0] != 0 && !Equals(computerName, u".") &&
      !EqualsNoCase(computerName, context.LocalComputerName.Data())) {
    context.ComputerName.text.Assign(computerName);
    context.ComputerName.present = true;
  }
  const char16_t* name = context.ComputerName.Get();

  int32_t status =
      GetOSBuildNumber(platform, settings, name, &context.BuildNumber, &context.SystemRoot);
  if (settings.Trace != 0) {
    ConsolePrint(u"\nGetOSBuildNumber(%s) returned %d, BuildNumber=%u", name, status,
                 context.BuildNumber);
  }
  if (status != 0) {
    ConsolePrint(
        u"\n\nFailed to determine the operating system version, system error %d has occurred.",
        status);
    PrintErrorText(platform, status);
    return status;
  }

  if (!context.IsRemote()) {
    context.RootKey = kHKeyLocalMachine;
  } else {
    RegKey root = kNoKey;
    status = CallUnderDelayLoadGuard(platform, GuardMessageStyle::NewBlock, [&] {
      return platform.RegConnectRegistry(name, kHKeyLocalMachine, &root);
    });
    if (settings.Trace != 0) ConsolePrint(u"\nRegConnectRegistry(%s) returned %d", name, status);
    if (status != 0) {
      ConsolePrint(u"\n\nError %d opening \\\\%s\\PIPE\\winreg\\", status, name);
      PrintErrorText(platform, status);
      return status;
    }
    context.RootKey = root;
  }

  RegKey list = kNoKey;
  bool returned = false;
  status = CallUnderDelayLoadGuard(
      platform, GuardMessageStyle::NewBlock,
      [&] {
        return platform.RegOpenKeyEx(context.RootKey, kProfileListKeyPath, 0, kKeyRead, &list);
      },
      &returned);
  if (returned && settings.Trace != 0) {
    ConsolePrint(u"\nRegOpenKeyEx(%s) returned %d", kProfileListKeyPath, status);
  }
  if (status != 0) {
    ConsolePrint(u"\n\nFailed to open \"HKLM\\%s\", system error %d has occurred.",
                 kProfileListKeyPath, status);
    PrintErrorText(platform, status);
    return status;
  }
  context.ProfileListKey = list;

  status = DiscoverFolders(platform, settings, context);
  if (status != 0) return status;
  GetFreeSpaceMB(platform, settings, context.ProfilesDirectory.Data(), &context.FreeSpaceBefore);
  ProcessProfileList(platform, settings, context);
  GetFreeSpaceMB(platform, settings, context.ProfilesDirectory.Data(), &context.FreeSpaceAfter);
  return context.Result;
}

// Closes every handle and connection the pass holds, each once, then prints
// the summary.
void CloseTarget(Platform& platform, const RunSettings& settings, TargetContext& context) {
  if (context.ProfileKey != kNoKey) platform.RegCloseKey(context.ProfileKey);
  context.ProfileKey = kNoKey;
  if (context.ProfileListKey != kNoKey) platform.RegCloseKey(context.ProfileListKey);
  context.ProfileListKey = kNoKey;
  if (context.RootKey != kNoKey) platform.RegCloseKey(context.RootKey);
  context.RootKey = kNoKey;
  if (context.ProfileService != kNoServices) platform.ReleaseServices(context.ProfileService);
  context.ProfileService = kNoServices;
  PrintSummary(settings, context);
}

}  // namespace

void PrintSummary(const RunSettings& settings, const TargetContext& context) {
  ConsolePrint(u"\n\n[Summary for %s]",
               context.IsRemote() ? context.ComputerName.Get() : context.LocalComputerName.Data());
  if (settings.Trace != 0) {
    ConsolePrint(u"\nProfiles Directory=%s", context.ProfilesDirectory.Data());
    ConsolePrint(u"\nAllUsers Profile=%s", context.AllUsersProfile.Data());
    ConsolePrint(u"\nDefaultUser Profile=%s", context.DefaultUserProfile.Data());
  }
  ConsolePrint(u"\nProfiles Enumerated=%d", context.ProfilesEnumerated);
  ConsolePrint(u"\nProfiles Deleted=%d", context.ProfilesDeleted);
  ConsolePrint(u"\nFree Disk Space Before=%I64d MB", context.FreeSpaceBefore);
  ConsolePrint(u"\nFree Disk Space  After=%I64d MB\n", context.FreeSpaceAfter);
}

int32_t ProcessTarget(Platform& platform, const RunSettings& settings,
                      const char16_t* computerName) {
  TargetContext context;
  int32_t result = 0;
  RunWithClosing(
      platform, [&] { result = RunPass(platform, settings, computerName, context); },
      [&] { CloseTarget(platform, settings, context); });
  return result;
}

}  // namespace wf
