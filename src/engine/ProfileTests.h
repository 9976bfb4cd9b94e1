// The tests that decide a profile's fate, in the order the walk asks them:
// folder present, protected, roaming rule, hive in use, old enough.
#pragma once

#include <cstdint>

#include "engine/RunSettings.h"
#include "engine/TargetContext.h"
#include "platform/Platform.h"

namespace wf {

enum class FolderState {
  Exists,       // an existing directory
  Missing,      // nothing of that name (file or path not found), or a plain file
  Unreachable,  // the lookup failed for another reason: share, access, network
};

struct FolderLookup {
  FolderState state = FolderState::Missing;
  uint32_t error = 0;  // the search's error number
};

// Looks the profile folder up (trailing backslashes removed). Only "file
// not found" and "path not found" mean missing; every other failed search
// means the folder cannot be reached, which is never a reason to remove its
// registry entry.
FolderLookup LookUpFolder(Platform& platform, const RunSettings& settings, const char16_t* folder);

// True when the folder is an existing directory.
bool FolderExists(Platform& platform, const RunSettings& settings, const char16_t* folder);

// True for a protected profile: the all-users, default-user or profiles
// folder itself, a well-known system account, or a folder named in the skip
// list (names joined under the profiles directory).
bool IsSkippedProfile(const RunSettings& settings, const TargetContext& context,
                      const char16_t* folder, const char16_t* sid);

// True when the roaming rule lets the profile go on: always without the
// roaming switch, otherwise only with a roaming path.
bool PassesRoamingFilter(const RunSettings& settings, const char16_t* roamingPath);

// True when another process holds the hive open (the exclusive open fails
// with a sharing violation).
bool IsProfileInUse(Platform& platform, const RunSettings& settings, const char16_t* hivePath);

// Prints the hive's modified date and the profile's age and answers true
// when the age is at least the minimum age. A fault inside it is caught and
// answers false.
bool ThisProfileIsOld(Platform& platform, const RunSettings& settings, const char16_t* hivePath);

}  // namespace wf
