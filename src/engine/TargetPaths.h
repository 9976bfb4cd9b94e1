// Build number, target paths and free space of a target computer.
#pragma once

#include <cstdint>

#include "engine/RunSettings.h"
#include "engine/TargetContext.h"
#include "platform/Platform.h"
#include "platform/Text.h"

namespace wf {

inline constexpr char16_t kCurrentVersionKey[] = u"Software\\Microsoft\\Windows NT\\CurrentVersion";

// The target's build: by version query for the local computer (null or
// empty name), from the remote registry otherwise. *build is 0 unless the
// call succeeds. Returns 0 or a system error number. For a remote computer,
// *systemRoot (when given) receives its SystemRoot from the same key; a
// SystemRoot that cannot be read or is no drive path does not fail the call.
int32_t GetOSBuildNumber(Platform& platform, const RunSettings& settings,
                         const char16_t* computerName, uint32_t* build,
                         TargetSystemRoot* systemRoot = nullptr);

// True when text begins with a drive letter (A to Z in any case), a colon
// and a backslash.
bool IsDrivePath(const char16_t* text);

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

// Expands a stored path as a remote target's own Windows does: %SystemRoot%,
// %windir% and %SystemDrive% (names compared for A to Z in any case) take
// the target's values; a lone "%" without a closing one stays as written.
// Returns 0, ERROR_ENVVAR_NOT_FOUND when the text holds any other
// reference or the target's SystemRoot is not usable, or
// ERROR_FILENAME_EXCED_RANGE when the result would exceed 260 characters;
// expanded is left empty on failure.
uint32_t ExpandOnTarget(const TargetSystemRoot& systemRoot, const char16_t* source,
                        PathText& expanded);

// Expands source into folder, in target form, only when the whole of it
// fits in longest characters: with the running computer's environment when
// target is null, with a remote target's own values (ExpandOnTarget)
// otherwise. Returns 0, or why it cannot be had (folder left empty): the
// expansion's error (13 when it gave none), or ERROR_FILENAME_EXCED_RANGE
// when it would be cut.
uint32_t ExpandTargetPath(Platform& platform, const TargetSystemRoot* target,
                          const char16_t* source, const char16_t* computerName, size_t longest,
                          char16_t* folder);

// Free space of the volume holding path in whole megabytes (0 on failure).
// Returns true when the query succeeded.
bool GetFreeSpaceMB(Platform& platform, const RunSettings& settings, const char16_t* path,
                    int64_t* megabytes);

}  // namespace wf
