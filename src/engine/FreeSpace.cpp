#include "engine/TargetPaths.h"
#include "platform/ConsoleOutput.h"

namespace wf {

bool GetFreeSpaceMB(Platform& platform, const RunSettings& settings, const char16_t* path,
                    int64_t* megabytes) {
  uint64_t available = 0;
  uint64_t total = 0;
  uint64_t totalFree = 0;
  const bool ok = platform.GetDiskFreeSpaceEx(path, &available, &total, &totalFree);
  if (settings.Trace != 0) {
    ConsolePrint(u"\nGetDiskFreeSpaceEx(%s) returned %d", path, static_cast<int32_t>(ok));
  }
  *megabytes = ok ? static_cast<int64_t>(totalFree / 1024 / 1024) : 0;
  return ok;
}

}  // namespace wf
