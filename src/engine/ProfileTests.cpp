#include "engine/ProfileTests.h"

#include "engine/TargetPaths.h"
#include "platform/ConsoleOutput.h"
#include "platform/Guards.h"

namespace wf {
namespace {

constexpr uint32_t kExclusiveAccess = kGenericRead | kGenericWrite | kDelete;  // 0xC0010000
constexpr uint64_t kTicksPerSecond = 10'000'000;
constexpr uint64_t kMaximumValidDays = 36500;

constexpr const char16_t* kProtectedSids[] = {u"S-1-5-18", u"S-1-5-19", u"S-1-5-20"};

int32_t HandleNumber(FileHandle handle) {
  return static_cast<int32_t>(handle);
}

}  // namespace

FolderLookup LookUpFolder(Platform& platform, const RunSettings& settings, const char16_t* folder) {
  // The folder the path names, without its trailing backslash: a search for
  // a path that ends in a separator (also after Win32 drops trailing dots
  // and spaces, or with "/") finds nothing, which must not pass for a
  // missing folder.
  PathText copy;
  FolderForComparison(folder, copy);
  size_t length = copy.Length();
  while (length > 0 && copy.chars[length - 1] == u'\\') copy.chars[--length] = 0;

  FindData data;
  platform.SetLastError(0);
  const FileHandle handle = platform.FindFirstFile(copy.Data(), &data);
  const uint32_t error = platform.GetLastError();
  if (settings.Trace != 0) {
    ConsolePrint(u"\nFindFirstFile(%s) returned %u, handle=%d", copy.Data(), error,
                 HandleNumber(handle));
  }
  FolderLookup lookup;
  lookup.error = error;
  if (handle == kInvalidHandle) {
    lookup.state = (error == kErrorFileNotFound || error == kErrorPathNotFound)
                       ? FolderState::Missing
                       : FolderState::Unreachable;
    return lookup;
  }
  platform.FindClose(handle);
  lookup.state =
      (data.attributes & kFileAttributeDirectory) != 0 ? FolderState::Exists : FolderState::Missing;
  return lookup;
}

bool FolderExists(Platform& platform, const RunSettings& settings, const char16_t* folder) {
  return LookUpFolder(platform, settings, folder).state == FolderState::Exists;
}

bool IsSkippedProfile(const RunSettings& settings, const TargetContext& context,
                      const char16_t* folder, const char16_t* sid) {
  // Folders are compared as the folders they name, so that another
  // spelling of a protected folder ("x\..\", "Name.", "/") is still it.
  PathText profile;
  FolderForComparison(folder, profile);
  PathText special;
  for (const PathText* protectedFolder :
       {&context.AllUsersProfile, &context.DefaultUserProfile, &context.ProfilesDirectory}) {
    FolderForComparison(protectedFolder->Data(), special);
    if (EqualsNoCase(profile.Data(), special.Data())) return true;
  }
  for (const char16_t* protectedSid : kProtectedSids) {
    if (EqualsNoCase(sid, protectedSid)) return true;
  }

  // A fresh copy of the list, split at every colon; empty names are dropped.
  LongText names;
  names.Assign(settings.SkipNames.Data());
  const size_t directoryLength = context.ProfilesDirectory.Length();
  constexpr size_t kLast = LongText::kCapacity - 1;  // always the terminator
  size_t at = 0;
  while (at < kLast && names.chars[at] != 0) {
    const size_t start = at;
    while (at < kLast && names.chars[at] != 0 && names.chars[at] != u':') ++at;
    const bool more = names.chars[at] == u':';
    names.chars[at] = 0;
    const size_t nameLength = at - start;
    if (more) ++at;
    if (nameLength == 0) continue;
    // A join that cannot hold its closing backslash matches no profile
    // folder; it is not even shown cut.
    size_t kept = nameLength;
    while (kept > 0 && names.chars[start + kept - 1] == u'\\') --kept;
    if (directoryLength + kept + 1 > kPathChars - 1) continue;
    PathText joined;
    joined.Assign(context.ProfilesDirectory.Data());
    joined.Append(names.chars + start);
    ToTargetPath(joined.chars, nullptr);
    if (settings.Trace != 0) ConsolePrint(u"\nChecking name: [%s]", joined.Data());
    FolderForComparison(joined.Data(), special);
    if (EqualsNoCase(special.Data(), profile.Data())) return true;
  }
  return false;
}

bool PassesRoamingFilter(const RunSettings& settings, const char16_t* roamingPath) {
  if (settings.RoamingOnly != 1) return true;
  if (settings.Trace != 0) ConsolePrint(u"\nCentralProfile: [%s]", roamingPath);
  return roamingPath != nullptr && roamingPath[0] != 0;
}

bool IsProfileInUse(Platform& platform, const RunSettings& settings, const char16_t* hivePath) {
  platform.SetLastError(0);
  const FileHandle handle =
      platform.CreateFile(hivePath, kExclusiveAccess, 0, kOpenExisting, kFileAttributeNormal);
  const uint32_t error = platform.GetLastError();
  if (settings.Trace != 0) {
    ConsolePrint(u"\nCreateFile(%s) returned %u, handle=%d", hivePath, error, HandleNumber(handle));
  }
  if (handle != kInvalidHandle) platform.CloseHandle(handle);
  return error == kErrorSharingViolation;
}

namespace {

bool AgeTest(Platform& platform, const RunSettings& settings, const char16_t* hivePath) {
  FindData data;
  platform.SetLastError(0);
  const FileHandle handle = platform.FindFirstFile(hivePath, &data);
  const uint32_t error = platform.GetLastError();
  if (settings.Trace != 0) {
    ConsolePrint(u"\nFindFirstFile(%s) returned %u, handle=%d", hivePath, error,
                 HandleNumber(handle));
  }
  if (handle == kInvalidHandle) {
    ConsolePrint(u"\nFailed to find \"%s\", error %u.", hivePath, error);
    return false;
  }
  platform.FindClose(handle);

  // Both times go through the same conversion with the bias in effect now,
  // so the age is the true elapsed time; only the date text shows the bias.
  FileTime written = 0;
  platform.FileTimeToLocalFileTime(data.lastWriteTime, &written);
  SystemTime calendar;
  platform.FileTimeToSystemTime(written, &calendar);
  Text<128> date;
  FormatText16(date.chars, Text<128>::kCapacity, u"%u/%02u/%02u %02u:%02u",
               static_cast<uint32_t>(calendar.year), static_cast<uint32_t>(calendar.month),
               static_cast<uint32_t>(calendar.day), static_cast<uint32_t>(calendar.hour),
               static_cast<uint32_t>(calendar.minute));
  ConsolePrint(u"\nModified Date=%s", date.Data());

  FileTime now = 0;
  platform.FileTimeToLocalFileTime(platform.GetSystemTimeAsFileTime(), &now);
  if (settings.Trace != 0) {
    ConsolePrint(u"\nFileTimeBuffer: [%I64u], SystemTimeBuffer: [%I64u]", written, now);
  }
  if (written >= now) {
    ConsolePrint(u"\nProfile Age=0 days");
    return false;
  }
  const uint64_t ticks = now - written;
  const uint64_t days = ticks / kTicksPerSecond / 60 / 60 / 24;
  if (settings.Trace != 0) {
    ConsolePrint(u"\nFileAge: [%I64u], FileAgeInDays: [%I64u]", ticks, days);
  }
  if (days > kMaximumValidDays) {
    ConsolePrint(u"\nFailed, the profile modified time was invalid.");
    return false;
  }
  ConsolePrint(u"\nProfile Age=%I64u days", days);
  return days >= static_cast<uint64_t>(settings.MinimumAge);
}

}  // namespace

bool ThisProfileIsOld(Platform& platform, const RunSettings& settings, const char16_t* hivePath) {
  bool old = false;
  const bool completed = RunGuarded(
      platform, [&] { old = AgeTest(platform, settings, hivePath); },
      [](const FaultInfo&) -> int32_t { return kExceptionExecuteHandler; });
  if (!completed) {
    ConsolePrint(u"\nFailed during ThisProfileIsOld(), exception error occurred.");
    return false;
  }
  return old;
}

}  // namespace wf
