// The error number an administrator can look up for the HRESULT of a WMI
// call, as a plain integer so that it can be checked on any system.
#pragma once

#include <cstdint>

namespace wf::win32 {

enum : uint32_t {
  kWbemAccessDenied = 0x80041003u,
  kWbemNotFound = 0x80041002u,
  kWbemInvalidObjectPath = 0x8004103Au,
  kWbemTransportFailure = 0x80041015u,
};

// 0 for success; a Win32 error carried in the HRESULT (facility 7, such as
// 0x800706BA) as its code, unless that code is 0 (a failure must never read
// as success); the WMI codes for a refused account (5), an
// unknown or malformed object (2) and a failed transport (1722); any other
// failure as the HRESULT itself, read as a signed number.
constexpr int32_t WmiStatusToError(uint32_t hresult) {
  if ((hresult & 0x80000000u) == 0) return 0;
  if ((hresult & 0xFFFF0000u) == 0x80070000u && (hresult & 0xFFFFu) != 0) {
    return static_cast<int32_t>(hresult & 0xFFFFu);
  }
  switch (hresult) {
    case kWbemAccessDenied:
      return 5;
    case kWbemNotFound:
    case kWbemInvalidObjectPath:
      return 2;
    case kWbemTransportFailure:
      return 1722;
    default:
      return static_cast<int32_t>(hresult);
  }
}

}  // namespace wf::win32
