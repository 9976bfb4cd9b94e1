// The help screen.
#pragma once

namespace wf {

inline constexpr char16_t kProductName[] = u"Wrenfold";
// The project version, given by the build (the CMake project version).
inline constexpr char16_t kProductVersion[] = u"" WRENFOLD_VERSION_TEXT;

// Prints the usage screen; programPath is the command as typed, of which the
// part after the last backslash names the program.
void ShowUsage(const char16_t* programPath);

}  // namespace wf
