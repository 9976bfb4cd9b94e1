// Registry key values between the platform interface and the Windows calls,
// as plain integers so that they can be checked on any system.
//
// The predefined root keys (HKEY_LOCAL_MACHINE and its kind) are 32-bit
// values that the Windows headers sign-extend into a handle: on 64-bit
// Windows HKEY_LOCAL_MACHINE is 0xFFFFFFFF80000002. The interface carries
// them as their 32-bit value (0x80000002). The registry functions reserve
// these values for the root keys, so no opened key ever has one of them;
// every other value is an ordinary handle and passes through bit for bit,
// whatever its high bits (0x80000010, 0xFFFFFFF0, one above 4 GiB).
#pragma once

#include <cstdint>

namespace wf::win32 {

// HKEY_CLASSES_ROOT .. HKEY_CURRENT_USER_LOCAL_SETTINGS (0x80000000 to
// 0x80000007, HKEY_DYN_DATA among them), HKEY_PERFORMANCE_TEXT and
// HKEY_PERFORMANCE_NLSTEXT.
constexpr bool IsPredefinedKeyValue(uint32_t value) {
  return (value >= 0x80000000u && value <= 0x80000007u) || value == 0x80000050u ||
         value == 0x80000060u;
}

constexpr uint64_t kSignExtension = 0xFFFFFFFF00000000u;

// The handle bits to give a Windows call for a key of the interface.
constexpr uint64_t RegKeyToSystem(uint64_t key) {
  if ((key >> 32) == 0 && IsPredefinedKeyValue(static_cast<uint32_t>(key))) {
    return kSignExtension | key;
  }
  return key;
}

// The interface's key for handle bits that a Windows call returned.
constexpr uint64_t RegKeyFromSystem(uint64_t handle) {
  if ((handle & kSignExtension) == kSignExtension &&
      IsPredefinedKeyValue(static_cast<uint32_t>(handle))) {
    return handle & 0xFFFFFFFFu;
  }
  return handle;
}

}  // namespace wf::win32
