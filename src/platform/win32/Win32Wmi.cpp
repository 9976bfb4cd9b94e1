// Another computer's profile service, reached over DCOM through WMI: the
// locator's connection to a namespace, the deletion of an instance, and the
// connection's release. Each connection holds its own COM initialisation,
// so nothing of COM outlives it.

// The backend's own header first, so that windows.h comes with its settings
// (NOMINMAX, WIN32_LEAN_AND_MEAN) before the COM headers include it.
// clang-format off
#include "platform/win32/Win32Api.h"
// clang-format on

#include <objbase.h>
#include <oleauto.h>
#include <wbemidl.h>

#include "platform/win32/Win32Platform.h"
#include "platform/win32/WmiStatus.h"

namespace wf {
namespace {

using win32::Wide;
using win32::WmiStatusToError;

int32_t ErrorOf(HRESULT result) {
  return WmiStatusToError(static_cast<uint32_t>(result));
}

// The interface carries the connection as an integer by design.
IWbemServices* ToServices(WmiServices services) {
  // NOLINTNEXTLINE(performance-no-int-to-ptr)
  return reinterpret_cast<IWbemServices*>(static_cast<uintptr_t>(services));
}

// A text for a call that takes a BSTR; released when it goes.
class BString {
 public:
  explicit BString(const char16_t* text) : text_(::SysAllocString(Wide(text))) {}
  ~BString() { ::SysFreeString(text_); }
  BString(const BString&) = delete;
  BString& operator=(const BString&) = delete;
  BSTR Get() const { return text_; }

 private:
  BSTR text_;
};

// The locator's connection, once COM is initialised: the services proxy
// with the security Windows servers require since the DCOM hardening
// (impersonation, packet privacy). Returns the HRESULT.
HRESULT Connect(const char16_t* networkResource, IWbemServices** services) {
  // The process-wide default; RPC_E_TOO_LATE when the process has set it
  // already, which leaves the proxy setting below to decide.
  HRESULT result =
      ::CoInitializeSecurity(nullptr, -1, nullptr, nullptr, RPC_C_AUTHN_LEVEL_PKT_PRIVACY,
                             RPC_C_IMP_LEVEL_IMPERSONATE, nullptr, EOAC_NONE, nullptr);
  if (FAILED(result) && result != RPC_E_TOO_LATE) return result;

  IWbemLocator* locator = nullptr;
  result = ::CoCreateInstance(CLSID_WbemLocator, nullptr, CLSCTX_INPROC_SERVER, IID_IWbemLocator,
                              reinterpret_cast<void**>(&locator));
  if (FAILED(result)) return result;
  const BString resource(networkResource);
  // The flag bounds the wait for a computer that does not answer.
  result = locator->ConnectServer(resource.Get(), nullptr, nullptr, nullptr,
                                  WBEM_FLAG_CONNECT_USE_MAX_WAIT, nullptr, nullptr, services);
  locator->Release();
  if (FAILED(result)) {
    *services = nullptr;
    return result;
  }
  // An in-process object has no proxy to set: E_NOINTERFACE.
  result = ::CoSetProxyBlanket(*services, RPC_C_AUTHN_DEFAULT, RPC_C_AUTHZ_DEFAULT,
                               COLE_DEFAULT_PRINCIPAL, RPC_C_AUTHN_LEVEL_PKT_PRIVACY,
                               RPC_C_IMP_LEVEL_IMPERSONATE, nullptr, EOAC_NONE);
  if (FAILED(result) && result != E_NOINTERFACE) {
    (*services)->Release();
    *services = nullptr;
    return result;
  }
  return S_OK;
}

}  // namespace

int32_t Win32Platform::ConnectServer(const char16_t* networkResource, WmiServices* services) {
  *services = kNoServices;
  const HRESULT initialised = ::CoInitializeEx(nullptr, COINIT_MULTITHREADED);
  if (FAILED(initialised)) return ErrorOf(initialised);
  IWbemServices* connected = nullptr;
  const HRESULT result = Connect(networkResource, &connected);
  if (FAILED(result)) {
    ::CoUninitialize();
    return ErrorOf(result);
  }
  *services = static_cast<WmiServices>(reinterpret_cast<uintptr_t>(connected));
  return 0;
}

int32_t Win32Platform::DeleteInstance(WmiServices services, const char16_t* objectPath) {
  const BString path(objectPath);
  return ErrorOf(ToServices(services)->DeleteInstance(path.Get(), 0, nullptr, nullptr));
}

void Win32Platform::ReleaseServices(WmiServices services) {
  ToServices(services)->Release();
  ::CoUninitialize();
}

}  // namespace wf
