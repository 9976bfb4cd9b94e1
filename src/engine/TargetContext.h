// The state of one pass over one computer.
#pragma once

#include <cstdint>

#include "platform/Platform.h"
#include "platform/Text.h"

namespace wf {

// Computer names: at most 259 characters and the terminator.
inline constexpr size_t kComputerNameChars = 260;

inline constexpr char16_t kProfileListKeyPath[] =
    u"Software\\Microsoft\\Windows NT\\CurrentVersion\\ProfileList";

// A computer name that may be absent (the local computer).
struct OptionalName {
  Text<kComputerNameChars> text;
  bool present = false;

  // The name, or null when absent.
  const char16_t* Get() const { return present ? text.Data() : nullptr; }
};

// A remote target's SystemRoot, from which its own Windows gives the
// variables it writes into ProfileList their values: %SystemRoot% and
// %windir% are the text, %SystemDrive% its drive letter and colon.
struct TargetSystemRoot {
  PathText text;  // as read; empty when it could not be read
  // 0 when the text is a drive path ("X:\..."); otherwise
  // ERROR_ENVVAR_NOT_FOUND, and no path of the target can be expanded.
  uint32_t status = kErrorEnvvarNotFound;
};

// Made afresh by ProcessTarget for each computer: texts empty, handles none,
// counters 0.
struct TargetContext {
  OptionalName ComputerName;  // absent for the local computer
  Text<kComputerNameChars> LocalComputerName;
  uint32_t BuildNumber = 0;
  TargetSystemRoot SystemRoot;  // a remote target's; unused for the local one
  RegKey RootKey = kNoKey;
  RegKey ProfileListKey = kNoKey;
  RegKey ProfileKey = kNoKey;
  PathText ProfilesDirectory;
  PathText AllUsersProfile;
  PathText DefaultUserProfile;
  int32_t ProfilesEnumerated = 0;
  int32_t ProfilesDeleted = 0;
  int64_t FreeSpaceBefore = 0;
  int64_t FreeSpaceAfter = 0;
  int32_t Result = 0;
  // The target's profile service over WMI, connected at the first deletion
  // that needs it; a failed connection's status, so that it is not tried
  // again for the same computer.
  WmiServices ProfileService = kNoServices;
  int32_t ProfileServiceStatus = 0;

  bool IsRemote() const { return ComputerName.present; }
  // What the pass's paths are expanded with: null for the running
  // computer's environment, the target's own SystemRoot for a remote one.
  const TargetSystemRoot* Expansion() const { return IsRemote() ? &SystemRoot : nullptr; }
};

}  // namespace wf
