#include "engine/ProfileWalk.h"

#include "engine/ErrorText.h"
#include "engine/ProfileTests.h"
#include "engine/RegistryText.h"
#include "engine/TargetPaths.h"
#include "platform/ConsoleKey.h"
#include "platform/ConsoleOutput.h"

namespace wf {
namespace {

// Working values of one iteration, reused from one to the next.
struct Entry {
  PathText sid;
  PathText storedPath;
  PathText folder;
  PathText roamingPath;
  PathText hivePath;
};

// The last successful deletion: a deleted entry leaves its index to the
// next one, so the same name at the same index means it is still there.
struct LastDeletion {
  bool valid = false;
  bool orphan = false;
  uint32_t index = 0;
  PathText sid;
};

void CloseProfileKey(Platform& platform, TargetContext& context) {
  if (context.ProfileKey != kNoKey) platform.RegCloseKey(context.ProfileKey);
  context.ProfileKey = kNoKey;
}

// Asks before a deletion unless confirmation is off. Only y or Y answer
// yes; the second part of a function or cursor key is dropped, so it can
// never answer a later prompt.
bool ConfirmDeletion(Platform& platform, const RunSettings& settings) {
  if (settings.Confirm == 0) return true;
  ConsolePrint(u"\nDelete? (Y/N): ");
  const int32_t key = ReadConsoleKey(platform);
  DiscardPendingConsoleKey();
  return key == 0x79 || key == 0x59;
}

// Windows Vista SP1 and Server 2008 (build 6001) are the first whose
// profile service is offered over WMI (Win32_UserProfile).
constexpr uint32_t kProfileServiceOverWmiBuild = 6001;
// Win32_UserProfile.SID="<sid>"; the resource \\<name>\root\cimv2. Each
// text holds its two literals and a whole SID or computer name.
constexpr char16_t kInstancePathStart[] = u"Win32_UserProfile.SID=\"";
constexpr char16_t kInstancePathEnd[] = u"\"";
constexpr char16_t kResourceStart[] = u"\\\\";
constexpr char16_t kResourceEnd[] = u"\\root\\cimv2";
template <size_t N>
constexpr size_t LiteralChars(const char16_t (&)[N]) {
  return N - 1;
}
constexpr size_t kInstancePathChars =
    LiteralChars(kInstancePathStart) + (kPathChars - 1) + LiteralChars(kInstancePathEnd) + 1;
constexpr size_t kResourceChars =
    LiteralChars(kResourceStart) + (kComputerNameChars - 1) + LiteralChars(kResourceEnd) + 1;
static_assert(kInstancePathChars > kPathChars && kResourceChars > kComputerNameChars,
              "the slack beyond a SID or a computer name is that of the literals around it");

// Deletes the profile of sid through the target's own profile service: the
// Win32_UserProfile instance of the SID in its root\cimv2 namespace. The
// connection is made at the first deletion and kept for the pass; once it
// has failed, its status is every later deletion's, without a new attempt.
// Returns 0 or the error.
int32_t DeleteThroughProfileService(Platform& platform, const RunSettings& settings,
                                    TargetContext& context, const char16_t* sid) {
  // Only a SID goes into the object path: any other name could carry a
  // quote or a comma and make the path name another profile.
  if (!IsSidText(sid)) return static_cast<int32_t>(kErrorInvalidSid);
  if (context.ProfileServiceStatus != 0) return context.ProfileServiceStatus;
  if (context.ProfileService == kNoServices) {
    Text<kResourceChars> resource;
    resource.Assign(kResourceStart);
    resource.Append(context.ComputerName.Get());
    resource.Append(kResourceEnd);
    WmiServices services = kNoServices;
    const int32_t status = platform.ConnectServer(resource.Data(), &services);
    if (settings.Trace != 0) {
      ConsolePrint(u"\nConnectServer(%s) returned %d", resource.Data(), status);
    }
    if (status != 0) {
      context.ProfileServiceStatus = status;
      return status;
    }
    context.ProfileService = services;
  }
  // The SID as the quoted key: digits and dashes need no escape.
  Text<kInstancePathChars> path;
  path.Assign(kInstancePathStart);
  path.Append(sid);
  path.Append(kInstancePathEnd);
  const int32_t status = platform.DeleteInstance(context.ProfileService, path.Data());
  if (settings.Trace != 0) ConsolePrint(u"\nDeleteInstance(%s) returned %d", path.Data(), status);
  return status;
}

void Decline(TargetContext& context) {
  ConsolePrint(u"\nAction=Skipping (Cancelled)");
  context.Result = static_cast<int32_t>(kErrorCancelled);
}

// Puts the profile's folder in target form. Returns 0, or why the entry
// cannot be used: the expansion failed (its error) or the folder would be cut
// or leave no room for the hive's name (ERROR_FILENAME_EXCED_RANGE).
uint32_t MakeFolder(Platform& platform, const TargetContext& context, Entry& entry) {
  return ExpandTargetPath(platform, context.Expansion(), entry.storedPath.Data(),
                          context.ComputerName.Get(), kLongestFolder, entry.folder.chars);
}

// The orphaned-entry branch: the folder is gone, so the registry entry is
// removed by deleting its key. Returns true when the key was removed.
bool RemoveOrphanedEntry(Platform& platform, const RunSettings& settings, TargetContext& context,
                         const Entry& entry) {
  ConsolePrint(u"\nModified Date=(Not found)");
  ConsolePrint(u"\nProfile Age=(Not found)");
  if (!ConfirmDeletion(platform, settings)) {
    Decline(context);
    return false;
  }
  ConsolePrint(u"\nAction=Deleting (Not found)");
  CloseProfileKey(platform, context);
  RegKey key = kNoKey;
  const int32_t opened =
      platform.RegOpenKeyEx(context.ProfileListKey, entry.sid.Data(), 0, kDelete, &key);
  if (opened == 0) {
    context.ProfileKey = key;
  } else {
    ConsolePrint(u"\nRegOpenKeyEx(%s) failed with error %d", entry.sid.Data(), opened);
    PrintErrorText(platform, opened);
  }
  const int32_t status = platform.RegDeleteKey(context.ProfileListKey, entry.sid.Data());
  if (status != 0) {
    ConsolePrint(u"\nRegDeleteKey(%s) failed with error %d", entry.sid.Data(), status);
    PrintErrorText(platform, status);
    return false;
  }
  ++context.ProfilesDeleted;
  return true;
}

// Tests, asks and deletes a profile whose folder exists. Returns true when
// the profile was deleted.
bool ProcessProfile(Platform& platform, const RunSettings& settings, TargetContext& context,
                    Entry& entry) {
  if (IsSkippedProfile(settings, context, entry.folder.Data(), entry.sid.Data())) {
    ConsolePrint(u"\nAction=Skipping (Name)");
    return false;
  }
  const RegistryTextRead roaming =
      ReadRawText(platform, context.ProfileKey, u"CentralProfile", entry.roamingPath);
  if (roaming.status != 0 && settings.Trace != 0) {
    ConsolePrint(u"\nRegQueryValueEx(CentralProfile) failed with error %d", roaming.status);
  }
  if (!PassesRoamingFilter(settings, entry.roamingPath.Data())) {
    ConsolePrint(u"\nAction=Skipping (Local)");
    return false;
  }
  entry.hivePath.Assign(entry.folder.Data());
  entry.hivePath.Append(kHiveName);
  if (IsProfileInUse(platform, settings, entry.hivePath.Data())) {
    ConsolePrint(u"\nAction=Skipping (In use)");
    return false;
  }
  if (!ThisProfileIsOld(platform, settings, entry.hivePath.Data())) {
    ConsolePrint(u"\nAction=Skipping (Date)");
    return false;
  }
  if (!ConfirmDeletion(platform, settings)) {
    Decline(context);
    return false;
  }
  ConsolePrint(u"\nAction=Deleting");
  if (platform.DeleteProfile(entry.sid.Data(), entry.folder.Data(), context.ComputerName.Get())) {
    ++context.ProfilesDeleted;
    return true;
  }
  auto error = static_cast<int32_t>(platform.GetLastError());
  // Since Windows Vista the service refuses a computer name: the target's
  // own service deletes instead, reached over WMI.
  if (error == static_cast<int32_t>(kErrorInvalidParameter) && context.IsRemote() &&
      context.BuildNumber >= kProfileServiceOverWmiBuild) {
    error = DeleteThroughProfileService(platform, settings, context, entry.sid.Data());
    if (error == 0) {
      ++context.ProfilesDeleted;
      return true;
    }
  }
  context.Result = error;
  ConsolePrint(u"\nDeleteProfile(%s) failed with error %d", entry.sid.Data(), error);
  return false;
}

enum class Outcome { Kept, ProfileDeleted, EntryRemoved };

// One counted entry, from its header to its one action line.
Outcome ProcessEntry(Platform& platform, const RunSettings& settings, TargetContext& context,
                     Entry& entry) {
  if (const uint32_t unusable = MakeFolder(platform, context, entry)) {
    // No test runs on a cut path: the stored path names the entry.
    ConsolePrint(u"\n\n[%s]", entry.storedPath.Data());
    if (unusable == kErrorFilenameTooLong) {
      ConsolePrint(u"\nAction=Skipping (Path too long)");
    } else {
      ConsolePrint(u"\nAction=Skipping (Path not expanded, error %u)", unusable);
      // A remote entry whose path only its own computer can expand is
      // kept, and the exit code says so.
      if (context.IsRemote()) context.Result = static_cast<int32_t>(unusable);
    }
    return Outcome::Kept;
  }
  ConsolePrint(u"\n\n[%s]", entry.folder.Data());
  const FolderLookup lookup = LookUpFolder(platform, settings, entry.folder.Data());
  switch (lookup.state) {
    case FolderState::Missing:
      return RemoveOrphanedEntry(platform, settings, context, entry) ? Outcome::EntryRemoved
                                                                     : Outcome::Kept;
    case FolderState::Unreachable:
      // A folder that cannot be reached may well exist: its entry stays.
      ConsolePrint(u"\nAction=Skipping (Unreachable, error %u)", lookup.error);
      context.Result = static_cast<int32_t>(lookup.error);
      return Outcome::Kept;
    case FolderState::Exists:
      break;
  }
  return ProcessProfile(platform, settings, context, entry) ? Outcome::ProfileDeleted
                                                            : Outcome::Kept;
}

}  // namespace

bool IsSidText(const char16_t* text) {
  if (!(text[0] == u'S' && text[1] == u'-' && text[2] == u'1' && text[3] == u'-')) return false;
  int numbers = 0;
  for (const char16_t* at = text + 4;; ++at) {
    uint64_t value = 0;
    const char16_t* digits = at;
    while (*at >= u'0' && *at <= u'9') {
      value = value * 10 + static_cast<uint64_t>(*at - u'0');
      if (value > 0xFFFFFFFFu) return false;
      ++at;
    }
    if (at == digits || ++numbers > 16) return false;
    if (*at == 0) return numbers >= 2;
    if (*at != u'-') return false;
  }
}

void ProcessProfileList(Platform& platform, const RunSettings& settings, TargetContext& context) {
  Entry entry;
  LastDeletion last;
  uint32_t index = 0;
  for (;;) {
    entry.sid.Clear();
    uint32_t nameChars = static_cast<uint32_t>(PathText::kCapacity);
    if (platform.RegEnumKeyEx(context.ProfileListKey, index, entry.sid.chars, &nameChars) != 0) {
      break;
    }
    entry.sid.chars[PathText::kCapacity - 1] = 0;
    if (settings.Trace != 0) ConsolePrint(u"\n\nKeyName[%u]: [%s]", index, entry.sid.Data());

    // A deletion that reported success but left its entry in place: count
    // it as not deleted, let the exit code say so, and move on rather than
    // visit it again and again.
    if (last.valid && last.index == index && Equals(last.sid.Data(), entry.sid.Data())) {
      if (last.orphan) {
        ConsolePrint(u"\nRegDeleteKey(%s) reported success, but the entry is still listed.",
                     entry.sid.Data());
      } else {
        ConsolePrint(u"\nDeleteProfile(%s) reported success, but the entry is still listed.",
                     entry.sid.Data());
      }
      --context.ProfilesDeleted;
      context.Result = static_cast<int32_t>(kErrorDeletePending);
      last.valid = false;
      ++index;
      continue;
    }
    last.valid = false;
    ++index;

    RegKey key = kNoKey;
    const int32_t opened =
        platform.RegOpenKeyEx(context.ProfileListKey, entry.sid.Data(), 0, kKeyQueryValue, &key);
    if (opened == 0) {
      context.ProfileKey = key;
    } else if (settings.Trace != 0) {
      ConsolePrint(u"\nRegOpenKeyEx(%s) failed with error %d", entry.sid.Data(), opened);
    }

    const RegistryTextRead path =
        ReadRegistryText(platform, context.ProfileKey, u"ProfileImagePath", entry.storedPath);
    if (path.status != 0 && settings.Trace != 0) {
      ConsolePrint(u"\nRegQueryValueEx(ProfileImagePath) failed with error %d", path.status);
    }
    if (!path.ok || entry.storedPath.Empty()) {
      CloseProfileKey(platform, context);
      continue;
    }
    ++context.ProfilesEnumerated;
    if (settings.Trace != 0) ConsolePrint(u"\nFolderBuffer: [%s]", entry.storedPath.Data());

    const Outcome outcome = ProcessEntry(platform, settings, context, entry);
    if (outcome != Outcome::Kept) {
      // The entries behind a removed one move down by one index.
      --index;
      last.valid = true;
      last.orphan = outcome == Outcome::EntryRemoved;
      last.index = index;
      last.sid.Assign(entry.sid.Data());
    }
    CloseProfileKey(platform, context);
  }
  CloseProfileKey(platform, context);
}

}  // namespace wf
