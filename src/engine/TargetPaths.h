// Build number, target paths and free space of a target computer.
#pragma once

#include <cstdint>

#include "engine/RunSettings.h"
#include "platform/Platform.h"

namespace wf {

inline constexpr char16_t kCurrentVersionKey[] = u"Software\\Microsoft\\Windows NT\\CurrentVersion";

// The target's build: by version query for the local computer (null or
// empty name), from the remote registry otherwise. *build is 0 unless the
// call succeeds. Returns 0 or a system error number.
int32_t GetOSBuildNumber(Platform& platform, const RunSettings& settings,
                         const char16_t* computerName, uint32_t* build);

// Rewrites a local path of the target (a buffer of 261 characters) into the
// form the command opens it by: ending in exactly one backslash, and for a
// remote computer through its administrative share (\\NAME\X$\...).
void ToTargetPath(char16_t* path, const char16_t* computerName);

// The folder a path names, spelled as Win32 resolves it, for comparing two
// folders: "/" read as "\", runs of separators as one, "." and ".."
// segments resolved (never above the root: "X:", "\\server\share" or a
// leading "\"; a path without a root stays relative, as Windows resolves it
// against the current folder, keeping a ".." that climbs above it), a
// segment followed by another loses one trailing dot, the last one loses its
// trailing dots and spaces; ends in exactly one backslash. Letter case is
// left alone (compare with EqualsNoCase).
void FolderForComparison(const char16_t* path, PathText& folder);

// The length of path in target form before any cut: what ToTargetPath would
// write if it had room.
size_t TargetPathLength(const char16_t* path, const char16_t* computerName);

// Expands source with the running computer's environment into folder, in
// target form, only when the whole of it fits in longest characters. Returns
// 0, or why it cannot be had (folder left empty): the expansion's error (13
// when it gave none), or ERROR_FILENAME_EXCED_RANGE when it would be cut.
uint32_t ExpandTargetPath(Platform& platform, const char16_t* source, const char16_t* computerName,
                          size_t longest, char16_t* folder);

// Free space of the volume holding path in whole megabytes (0 on failure).
// Returns true when the query succeeded.
bool GetFreeSpaceMB(Platform& platform, const RunSettings& settings, const char16_t* path,
                    int64_t* megabytes);

}  // namespace wf
