// The Windows headers as the backend uses them. The headers define names
// such as CreateFile and GetComputerName as macros that pick the A or W
// form; the platform interface uses those names for its own operations, so
// the macros are removed here and the backend calls the W forms by name.
#pragma once

#ifndef NOMINMAX
#define NOMINMAX
#endif
#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif

#include <userenv.h>
#include <windows.h>

#undef CreateFile
#undef DeleteProfile
#undef ExpandEnvironmentStrings
#undef FindFirstFile
#undef GetComputerName
#undef GetDiskFreeSpaceEx
#undef GetVersionEx
#undef ReadConsoleInput
#undef RegConnectRegistry
#undef RegDeleteKey
#undef RegEnumKeyEx
#undef RegOpenKeyEx
#undef RegQueryValueEx

static_assert(sizeof(wchar_t) == sizeof(char16_t), "UTF-16 text is passed to the W calls as is");

namespace wf::win32 {

inline const wchar_t* Wide(const char16_t* text) {
  return reinterpret_cast<const wchar_t*>(text);
}
inline wchar_t* Wide(char16_t* text) {
  return reinterpret_cast<wchar_t*>(text);
}

}  // namespace wf::win32
