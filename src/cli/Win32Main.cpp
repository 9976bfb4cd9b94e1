// Process entry of wrenfold.exe: the command over the real Windows calls.
#include "cli/RunControl.h"
#include "platform/win32/Win32Platform.h"

static_assert(sizeof(wchar_t) == sizeof(char16_t), "the arguments are UTF-16 text");

int wmain(int argc, wchar_t** argv) {
  wf::Win32Platform platform;
  return wf::WrenfoldMain(platform, argc, reinterpret_cast<const char16_t* const*>(argv));
}
