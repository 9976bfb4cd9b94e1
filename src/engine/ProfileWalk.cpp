#include "engine/ProfileWalk.h"

namespace wf {

void ProcessProfileList(Platform& platform, const RunSettings& settings, TargetContext& context) {
  (void)platform;
  (void)settings;
  (void)context;
}

}  // namespace wf
