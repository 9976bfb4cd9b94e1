// The fault guards as structured exception handling. The bodies run as
// calls through a function pointer, so a fault anywhere inside them, in
// this frame's callees, is seen by the guard. Unwinding by a structured
// exception does not run C++ destructors: whatever must happen on the way
// out belongs in a closing step.
#include <cstdlib>

#include "platform/win32/Win32Api.h"
#include "platform/win32/Win32Platform.h"

#if __has_include(<delayimp.h>)
#include <delayimp.h>
#else
// The failure record of the delay-load helper, as documented.
struct DelayLoadProc {
  BOOL fImportByName;
  union {
    LPCSTR szProcName;
    DWORD dwOrdinal;
  };
};
struct DelayLoadInfo {
  DWORD cb;
  const void* pidd;
  FARPROC* ppfn;
  LPCSTR szDll;
  DelayLoadProc dlp;
  HMODULE hmodCur;
  FARPROC pfnCur;
  DWORD dwLastError;
};
#endif

namespace wf {
namespace {

// Reduces the exception record to what the portable filters look at and asks
// the filter. The late-binding failures carry their failure record as the
// first parameter.
int FilterThunk(const EXCEPTION_POINTERS* pointers, GuardFilter filter, void* context) {
  const EXCEPTION_RECORD& record = *pointers->ExceptionRecord;
  FaultInfo fault;
  fault.code = record.ExceptionCode;
  if ((fault.code == kDelayLoadModuleNotFound || fault.code == kDelayLoadProcNotFound) &&
      record.NumberParameters >= 1 && record.ExceptionInformation[0] != 0) {
    // The record's first parameter is the address of the failure record.
    const auto* info = reinterpret_cast<const DelayLoadInfo*>(  // NOLINT(performance-no-int-to-ptr)
        record.ExceptionInformation[0]);
    fault.hasDelayLoadInfo = true;
    fault.moduleName = info->szDll;
    fault.importByName = info->dlp.fImportByName != FALSE;
    if (fault.importByName) {
      fault.functionName = info->dlp.szProcName;
    } else {
      fault.ordinal = info->dlp.dwOrdinal;
    }
  }
  return filter(fault, context);
}

}  // namespace

bool Win32Platform::RunGuarded(GuardBody body, void* bodyContext, GuardFilter filter,
                               void* filterContext) {
  __try {
    body(bodyContext);
  } __except (FilterThunk(GetExceptionInformation(), filter, filterContext)) {
    return false;
  }
  return true;
}

void Win32Platform::RunWithClosing(GuardBody body, void* bodyContext, GuardBody closing,
                                   void* closingContext) {
  __try {
    body(bodyContext);
  } __finally {
    closing(closingContext);
  }
}

void Win32Platform::RaiseFault(uint32_t code) {
  ::RaiseException(code, 0, 0, nullptr);
  // Only a filter answering "continue execution" returns here; none does.
  std::abort();
}

}  // namespace wf
