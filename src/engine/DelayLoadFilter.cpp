#include "engine/DelayLoadFilter.h"

#include "platform/ConsoleOutput.h"

namespace wf {

int32_t DelayLoadFailureFilter(const FaultInfo& fault) {
  const char* module = fault.hasDelayLoadInfo ? fault.moduleName : nullptr;
  switch (fault.code) {
    case kDelayLoadModuleNotFound:
      ConsolePrint(u"\nFailed to find required DLL: %S", module);
      return kExceptionExecuteHandler;
    case kDelayLoadProcNotFound:
      if (!fault.hasDelayLoadInfo || fault.importByName) {
        ConsolePrint(u"\nFailed to find required function %S() in %S",
                     fault.hasDelayLoadInfo ? fault.functionName : nullptr, module);
      } else {
        ConsolePrint(u"\nFailed to find required function ordinal %d in %S",
                     static_cast<int32_t>(fault.ordinal), module);
      }
      return kExceptionExecuteHandler;
    default:
      return kExceptionContinueSearch;
  }
}

}  // namespace wf
