// The walk over the ProfileList entries of one computer.
#pragma once

#include "engine/RunSettings.h"
#include "engine/TargetContext.h"
#include "platform/Platform.h"

namespace wf {

// The hive file's name in a profile folder.
inline constexpr char16_t kHiveName[] = u"NTUSER.DAT";
inline constexpr size_t kHiveNameChars = sizeof kHiveName / sizeof kHiveName[0] - 1;
// The longest profile folder in target form (its closing backslash
// included) that still leaves room for the hive's name within the 259
// characters a Windows path may have (MAX_PATH counts the terminator too).
inline constexpr size_t kLongestFolder = kPathChars - 2 - kHiveNameChars;

// A SID in the text form that names a Win32_UserProfile instance: "S-1-",
// then the identifier authority and one to 15 sub-authorities, each a
// decimal number of 32 bits, separated by "-". A ProfileList entry of
// another name (such as a ".bak" copy) names no profile of the service.
bool IsSidText(const char16_t* text);

// Walks the subkeys of context.ProfileListKey (open) until the enumeration
// ends. Of the context it changes only ProfileKey, ProfilesEnumerated,
// ProfilesDeleted and Result; ProfileKey is none again when it returns.
void ProcessProfileList(Platform& platform, const RunSettings& settings, TargetContext& context);

}  // namespace wf
