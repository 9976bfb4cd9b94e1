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
  using DeleteInstanceHook = std::function<void(const char16_t* objectPath)>;

  CheckingPlatform(Platform& inner, DeleteProfileHook onDeleteProfile,
                   RegDeleteKeyHook onRegDeleteKey, DeleteInstanceHook onDeleteInstance = {})
      : ForwardingPlatform(inner),
        onDeleteProfile_(std::move(onDeleteProfile)),
        onRegDeleteKey_(std::move(onRegDeleteKey)),
        onDeleteInstance_(std::move(onDeleteInstance)) {}

  int32_t RegDeleteKey(RegKey key, const char16_t* subKey) override {
    if (onRegDeleteKey_) onRegDeleteKey_(key, subKey);
    return ForwardingPlatform::RegDeleteKey(key, subKey);
  }
  bool DeleteProfile(const char16_t* sid, const char16_t* profilePath,
                     const char16_t* computerName) override {
    if (onDeleteProfile_) onDeleteProfile_(sid, profilePath, computerName);
    return ForwardingPlatform::DeleteProfile(sid, profilePath, computerName);
  }
  int32_t DeleteInstance(WmiServices services, const char16_t* objectPath) override {
    if (onDeleteInstance_) onDeleteInstance_(objectPath);
    return ForwardingPlatform::DeleteInstance(services, objectPath);
  }

 private:
  DeleteProfileHook onDeleteProfile_;
  RegDeleteKeyHook onRegDeleteKey_;
  DeleteInstanceHook onDeleteInstance_;
};

}  // namespace wf::fuzz
