#include "engine/ProcessTarget.h"

namespace wf {

int32_t ProcessTarget(Platform& platform, const RunSettings& settings,
                      const char16_t* computerName) {
  (void)platform;
  (void)settings;
  (void)computerName;
  return 0;
}

}  // namespace wf
