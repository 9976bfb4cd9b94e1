// A platform that forwards every operation to another one and lets the
// fuzz targets look at each deletion before it happens, while the state it
// is judged by is still the state the command saw.
#pragma once

#include <functional>
#include <utility>

#include "ForwardingPlatform.h"

namespace wf::fuzz {

class CheckingPlatform final : public ForwardingPlatform<> {
 public:
  using DeleteProfileHook = std::function<void(const char16_t* sid, const char16_t* profilePath,
                                               const char16_t* computerName)>;
  using RegDeleteKeyHook = std::function<void(RegKey key, const char16_t* subKey)>;

  CheckingPlatform(Platform& inner, DeleteProfileHook onDeleteProfile,
                   RegDeleteKeyHook onRegDeleteKey)
      : ForwardingPlatform(inner),
        onDeleteProfile_(std::move(onDeleteProfile)),
        onRegDeleteKey_(std::move(onRegDeleteKey)) {}

  int32_t RegDeleteKey(RegKey key, const char16_t* subKey) override {
    if (onRegDeleteKey_) onRegDeleteKey_(key, subKey);
    return ForwardingPlatform::RegDeleteKey(key, subKey);
  }
  bool DeleteProfile(const char16_t* sid, const char16_t* profilePath,
                     const char16_t* computerName) override {
    if (onDeleteProfile_) onDeleteProfile_(sid, profilePath, computerName);
    return ForwardingPlatform::DeleteProfile(sid, profilePath, computerName);
  }

 private:
  DeleteProfileHook onDeleteProfile_;
  RegDeleteKeyHook onRegDeleteKey_;
};

}  // namespace wf::fuzz
