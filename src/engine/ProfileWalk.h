// The walk over the ProfileList entries of one computer.
#pragma once

#include "engine/RunSettings.h"
#include "engine/TargetContext.h"
#include "platform/Platform.h"

namespace wf {

// Walks the subkeys of context.ProfileListKey (open) until the enumeration
// ends. Of the context it changes only ProfileKey, ProfilesEnumerated,
// ProfilesDeleted and Result; ProfileKey is none again when it returns.
void ProcessProfileList(Platform& platform, const RunSettings& settings, TargetContext& context);

}  // namespace wf
