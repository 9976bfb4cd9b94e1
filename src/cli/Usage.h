// The help screen.
#pragma once

namespace wf {

inline constexpr char16_t kProductName[] = u"Wrenfold";
inline constexpr char16_t kProductVersion[] = u"1.10";

// Prints the usage screen; programPath is the command as typed, of which the
// part after the last backslash names the program.
void ShowUsage(const char16_t* programPath);

}  // namespace wf
