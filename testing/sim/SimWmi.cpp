// Each computer's profile service as WMI offers it to other computers: a
// connection to \\NAME\root\cimv2, and the deletion of the Win32_UserProfile
// instance of a SID, which removes the profile folder and its ProfileList
// entry exactly as the profile service does on the computer itself. The
// statuses are what the real backend makes of WMI's HRESULTs (WmiStatus.h).
#include <cstdint>
#include <string>

#include "platform/win32/WmiStatus.h"
#include "sim/SimPlatform.h"
#include "sim/SimText.h"

namespace wf::sim {
namespace {

// WBEM_E_INVALID_NAMESPACE and WBEM_E_INVALID_CLASS, as the backend passes
// them on (signed).
constexpr auto kInvalidNamespace = static_cast<int32_t>(0x8004100Eu);
constexpr auto kInvalidClass = static_cast<int32_t>(0x80041010u);
constexpr auto kInvalidParameter = static_cast<int32_t>(0x80041008u);
constexpr int32_t kNotFound = win32::WmiStatusToError(win32::kWbemNotFound);
// RPC_S_SERVER_UNAVAILABLE: a computer that does not answer.
constexpr int32_t kServerUnavailable = 1722;

// The SID text of a Win32_UserProfile instance: S-1- and numbers separated
// by dashes. A ProfileList entry with another name (such as a .bak entry)
// has no instance.
bool IsSidText(std::u16string_view text) {
  if (text.size() < 5 || text.substr(0, 4) != u"S-1-") return false;
  bool digit = false;
  for (const char16_t c : text.substr(4)) {
    if (c >= u'0' && c <= u'9') {
      digit = true;
    } else if (c == u'-' && digit) {
      digit = false;
    } else {
      return false;
    }
  }
  return digit;
}

// The key of Win32_UserProfile.SID="<sid>", with \" and \\ read as the
// characters they escape; *status is 0, or why the path names no instance.
std::u16string SidOfPath(std::u16string_view path, int32_t* status) {
  *status = kNotFound;  // WBEM_E_INVALID_OBJECT_PATH gives the same number
  const size_t dot = path.find(u'.');
  const std::u16string_view className = path.substr(0, dot);
  if (className.empty()) return {};
  if (!EqualNoCase(className, u"Win32_UserProfile")) {
    *status = kInvalidClass;
    return {};
  }
  if (dot == std::u16string_view::npos) return {};
  std::u16string_view rest = path.substr(dot + 1);
  if (rest.size() < 6 || !EqualNoCase(rest.substr(0, 5), u"SID=\"")) return {};
  rest.remove_prefix(5);
  std::u16string sid;
  for (size_t i = 0; i < rest.size(); ++i) {
    if (rest[i] == u'\\' && i + 1 < rest.size()) {
      sid.push_back(rest[++i]);
    } else if (rest[i] == u'"') {
      if (i + 1 != rest.size()) return {};
      *status = 0;
      return sid;
    } else {
      sid.push_back(rest[i]);
    }
  }
  return {};
}

}  // namespace

int32_t SimPlatform::ConnectServer(const char16_t* networkResource, WmiServices* services) {
  Record("ConnectServer", {networkResource});
  if (services != nullptr) *services = kNoServices;
  if (const uint32_t status = Tick("ConnectServer")) return static_cast<int32_t>(status);
  if (networkResource == nullptr || services == nullptr) return kInvalidParameter;
  const std::u16string_view resource(networkResource);
  const size_t end = resource.find(u'\\', 2);
  if (resource.substr(0, 2) != u"\\\\" || end == std::u16string_view::npos || end == 2 ||
      !EqualNoCase(resource.substr(end + 1), u"root\\cimv2")) {
    return kInvalidNamespace;
  }
  SimComputer* computer = FindComputer(resource.substr(2, end - 2));
  if (computer == nullptr) return kServerUnavailable;
  if (computer->wmiStatus != 0) return static_cast<int32_t>(computer->wmiStatus);
  *services = nextWmiConnection_++;
  wmiConnections_[*services] = WmiConnection{computer, std::u16string(resource)};
  return 0;
}

int32_t SimPlatform::DeleteInstance(WmiServices services, const char16_t* objectPath) {
  const auto connection = wmiConnections_.find(services);
  Record("DeleteInstance",
         {connection == wmiConnections_.end() ? nullptr : connection->second.resource.c_str(),
          objectPath});
  if (const uint32_t status = Tick("DeleteInstance")) return static_cast<int32_t>(status);
  if (connection == wmiConnections_.end()) return static_cast<int32_t>(kErrorInvalidHandle);
  if (objectPath == nullptr) return kInvalidParameter;
  int32_t status = 0;
  const std::u16string sid = SidOfPath(objectPath, &status);
  if (status != 0) return status;
  if (!IsSidText(sid)) return kNotFound;
  // The service runs on the target: its own drives, its own environment,
  // whose SystemRoot is the computer's own.
  SimComputer& computer = *connection->second.computer;
  const std::u16string systemRoot = computer.SystemRoot();
  const Environment environment = {{u"SystemDrive", systemRoot.substr(0, 2)},
                                   {u"SystemRoot", systemRoot},
                                   {u"windir", systemRoot}};
  const uint32_t removed = RemoveProfile(computer, sid, nullptr, environment);
  return static_cast<int32_t>(removed == kErrorFileNotFound ? static_cast<uint32_t>(kNotFound)
                                                            : removed);
}

void SimPlatform::ReleaseServices(WmiServices services) {
  wmiConnections_.erase(services);
}

}  // namespace wf::sim
