// Staging, last-error, system information, time, console, message texts and
// the fault guards of the simulation. Registry and file operations have
// files of their own.
#include "sim/SimPlatform.h"

#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <utility>

#include "PlatformCalls.h"
#include "platform/Text.h"

namespace wf::sim {
namespace {

constexpr uint32_t kErrorHandleEof = 38;
constexpr uint32_t kErrorBufferOverflow = 111;
constexpr uint32_t kErrorInsufficientBuffer = 122;

constexpr PlatformCall kFaultableCalls[] = {
    PlatformCall::RegConnectRegistry,
    PlatformCall::RegOpenKeyEx,
    PlatformCall::RegQueryValueEx,
    PlatformCall::RegEnumKeyEx,
    PlatformCall::RegDeleteKey,
    PlatformCall::FindFirstFile,
    PlatformCall::CreateFile,
    PlatformCall::GetDiskFreeSpaceEx,
    PlatformCall::DeleteProfile,
    PlatformCall::ConnectServer,
    PlatformCall::DeleteInstance,
    PlatformCall::GetVersionEx,
    PlatformCall::GetComputerName,
    PlatformCall::ExpandEnvironmentStrings,
    PlatformCall::FileTimeToLocalFileTime,
    PlatformCall::FileTimeToSystemTime,
};

// Texts as an English Windows gives them for the numbers the command meets.
const std::pair<uint32_t, const char16_t*> kDefaultErrorTexts[] = {
    {2, u"The system cannot find the file specified.\r\n"},
    {3, u"The system cannot find the path specified.\r\n"},
    {5, u"Access is denied.\r\n"},
    {6, u"The handle is invalid.\r\n"},
    {13, u"The data is invalid.\r\n"},
    {32, u"The process cannot access the file because it is being used by another process.\r\n"},
    {53, u"The network path was not found.\r\n"},
    {67, u"The network name cannot be found.\r\n"},
    {87, u"The parameter is incorrect.\r\n"},
    {203, u"The system could not find the environment option that was entered.\r\n"},
    {206, u"The filename or extension is too long.\r\n"},
    {234, u"More data is available.\r\n"},
    {259, u"No more data is available.\r\n"},
    {303, u"The file cannot be opened because it is in the process of being deleted.\r\n"},
    {1011, u"The configuration registry key could not be opened.\r\n"},
    {1018, u"Illegal operation attempted on a registry key that has been marked for deletion.\r\n"},
    {1223, u"The operation was canceled by the user.\r\n"},
    {1337, u"The security ID structure is invalid.\r\n"},
    {1722, u"The RPC server is unavailable.\r\n"},
    {2250, u"The network connection could not be found.\r\n"},
};

// The version numbers that go with a build, as GetVersionEx reports them to
// a program that declares no later system in its manifest.
void VersionOfBuild(uint32_t build, uint32_t* major, uint32_t* minor) {
  struct Step {
    uint32_t fromBuild, major, minor;
  };
  static constexpr Step kSteps[] = {
      {9200, 6, 2}, {7600, 6, 1}, {6000, 6, 0}, {3790, 5, 2}, {2600, 5, 1}, {0, 5, 0},
  };
  for (const Step& step : kSteps) {
    if (build >= step.fromBuild) {
      *major = step.major;
      *minor = step.minor;
      return;
    }
  }
}

}  // namespace

// --- Faults and guards -------------------------------------------------------

SimFault::SimFault(uint32_t code) {
  info_.code = code;
}

SimFault::SimFault(uint32_t code, std::string module, std::string function, uint32_t ordinal)
    : module_(std::move(module)), function_(std::move(function)) {
  info_.code = code;
  info_.hasDelayLoadInfo = true;
  info_.importByName = !function_.empty();
  info_.ordinal = info_.importByName ? 0 : ordinal;
  Point();
}

SimFault::SimFault(const SimFault& other)
    : handler(other.handler),
      info_(other.info_),
      module_(other.module_),
      function_(other.function_) {
  Point();
}

SimFault& SimFault::operator=(const SimFault& other) {
  if (this != &other) {
    handler = other.handler;
    info_ = other.info_;
    module_ = other.module_;
    function_ = other.function_;
    Point();
  }
  return *this;
}

// The record's texts point into this object's own strings.
void SimFault::Point() {
  if (!info_.hasDelayLoadInfo) return;
  info_.moduleName = module_.c_str();
  info_.functionName = info_.importByName ? function_.c_str() : nullptr;
}

const std::vector<std::string_view>& FaultableCalls() {
  static const std::vector<std::string_view> names = [] {
    std::vector<std::string_view> made;
    for (const PlatformCall call : kFaultableCalls) made.emplace_back(PlatformCallName(call));
    return made;
  }();
  return names;
}

bool IsFaultableCall(std::string_view call) {
  return std::any_of(
      std::begin(kFaultableCalls), std::end(kFaultableCalls),
      [call](PlatformCall faultable) { return PlatformCallName(faultable) == call; });
}

void SimPlatform::AddFault(FaultPlan fault) {
  faults_.push_back(std::move(fault));
}

uint32_t SimPlatform::CallCount(std::string_view call) const {
  auto found = callCounts_.find(call);
  return found == callCounts_.end() ? 0 : found->second;
}

uint32_t SimPlatform::Tick(const char* call) {
  const uint32_t count = ++callCounts_[call];
  for (const FaultPlan& fault : faults_) {
    if (fault.call != call || fault.occurrence != count) continue;
    switch (fault.kind) {
      case FaultPlan::Kind::Status:
        return fault.status;
      case FaultPlan::Kind::AccessViolation:
        Raise(SimFault(kExceptionAccessViolation));
      case FaultPlan::Kind::ModuleNotFound:
        Raise(SimFault(kDelayLoadModuleNotFound, fault.module, fault.function, fault.ordinal));
      case FaultPlan::Kind::ProcNotFound:
        Raise(SimFault(kDelayLoadProcNotFound, fault.module, fault.function, fault.ordinal));
    }
  }
  return 0;
}

void SimPlatform::Record(const char* call, std::initializer_list<const char16_t*> arguments) {
  RecordedCall recorded{call, {}};
  for (const char16_t* argument : arguments) {
    recorded.arguments.push_back(argument == nullptr ? std::nullopt
                                                     : std::optional<std::u16string>(argument));
  }
  calls_.push_back(std::move(recorded));
}

// Asks the filters of the open guards, innermost first, which one handles
// the fault, before anything is unwound; then unwinds to it.
void SimPlatform::Raise(SimFault fault) {
  const std::vector<GuardFrame> guards = guards_;
  for (auto frame = guards.rbegin(); frame != guards.rend(); ++frame) {
    if (frame->filter(fault.Info(), frame->context) == kExceptionExecuteHandler) {
      fault.handler = frame->id;
      break;
    }
  }
  // The fault carries its module and function names as strings, as the
  // late-binding failure record does; copying it may allocate.
  throw fault;  // NOLINT(cert-err60-cpp)
}

void SimPlatform::RaiseFault(uint32_t code) {
  Raise(SimFault(code));
}

class SimPlatform::GuardScope {
 public:
  GuardScope(std::vector<GuardFrame>& guards, GuardFrame frame) : guards_(guards), id_(frame.id) {
    guards_.push_back(frame);
  }
  ~GuardScope() {
    auto frame = std::find_if(guards_.begin(), guards_.end(),
                              [this](const GuardFrame& f) { return f.id == id_; });
    if (frame != guards_.end()) guards_.erase(frame);
  }
  GuardScope(const GuardScope&) = delete;
  GuardScope& operator=(const GuardScope&) = delete;

 private:
  std::vector<GuardFrame>& guards_;
  uint64_t id_;
};

bool SimPlatform::RunGuarded(GuardBody body, void* bodyContext, GuardFilter filter,
                             void* filterContext) {
  const uint64_t id = nextGuardId_++;
  GuardScope scope(guards_, GuardFrame{id, filter, filterContext});
  try {
    body(bodyContext);
  } catch (SimFault& fault) {
    if (fault.handler == id) return false;
    throw;
  }
  return true;
}

// A fault that no filter accepted ends the process on Windows without any
// closing step running; only a handled one unwinds through them.
void SimPlatform::RunWithClosing(GuardBody body, void* bodyContext, GuardBody closing,
                                 void* closingContext) {
  try {
    body(bodyContext);
  } catch (SimFault& fault) {
    if (fault.handler != 0) closing(closingContext);
    throw;
  }
  closing(closingContext);
}

// --- Staging -------------------------------------------------------------------

SimPlatform::SimPlatform() {
  computers_.push_back(std::make_unique<SimComputer>(u"PC01"));
  environment_[u"SystemDrive"] = u"C:";
  environment_[u"SystemRoot"] = u"C:\\Windows";
  SystemTime start;
  start.year = 2026;
  start.month = 12;
  start.day = 1;
  start.hour = 12;
  CalendarToFileTime(start, &now_);
  for (const auto& [error, text] : kDefaultErrorTexts) errorTexts_[error] = text;
}

SimPlatform::~SimPlatform() = default;

SimComputer& SimPlatform::AddRemote(std::u16string_view name) {
  if (SimComputer* existing = FindComputer(name)) return *existing;
  computers_.push_back(std::make_unique<SimComputer>(std::u16string(name)));
  return *computers_.back();
}

SimComputer* SimPlatform::FindComputer(std::u16string_view name) {
  for (auto& computer : computers_) {
    if (EqualNoCase(computer->name, name)) return computer.get();
  }
  return nullptr;
}

void SimPlatform::SetEnvironment(std::u16string_view name, std::u16string_view value) {
  auto found = environment_.find(name);
  if (found != environment_.end()) {
    found->second = std::u16string(value);
  } else {
    environment_.emplace(std::u16string(name), std::u16string(value));
  }
}

void SimPlatform::RemoveEnvironment(std::u16string_view name) {
  auto found = environment_.find(name);
  if (found != environment_.end()) environment_.erase(found);
}

void SimPlatform::CaptureStandardOutput(bool isConsole) {
  captureStdout_ = true;
  stdoutIsConsole_ = isConsole;
}

void SimPlatform::UseProcessStandardOutput() {
  captureStdout_ = false;
}

void SimPlatform::SetNoConsole() {
  hasConsole_ = false;
  consoleEvents_.clear();
}

void SimPlatform::SetConsole(std::vector<ConsoleInputEvent> events) {
  hasConsole_ = true;
  consoleEvents_.assign(events.begin(), events.end());
}

void SimPlatform::SetErrorText(uint32_t error, std::u16string_view text) {
  if (text.empty()) {
    errorTexts_.erase(error);
  } else {
    errorTexts_[error] = std::u16string(text);
  }
}

// --- Thread last-error -----------------------------------------------------

uint32_t SimPlatform::GetLastError() {
  return lastError_;
}

void SimPlatform::SetLastError(uint32_t error) {
  lastError_ = error;
}

// --- System information ----------------------------------------------------

bool SimPlatform::GetComputerName(char16_t* buffer, uint32_t* size) {
  // A failed call leaves the buffer's contents undefined: fill what was
  // offered with characters that are not a name, unterminated.
  if (const uint32_t status = Tick("GetComputerName")) {
    if (buffer != nullptr && size != nullptr) std::fill(buffer, buffer + *size, u'\xCDCD');
    lastError_ = status;
    return false;
  }
  if (size == nullptr) {
    lastError_ = kErrorInvalidParameter;
    return false;
  }
  const std::u16string& name = Local().name;
  const auto needed = static_cast<uint32_t>(name.size() + 1);
  if (buffer == nullptr || *size < needed) {
    if (buffer != nullptr) std::fill(buffer, buffer + *size, u'\xCDCD');
    *size = needed;
    lastError_ = kErrorBufferOverflow;
    return false;
  }
  std::copy(name.begin(), name.end(), buffer);
  buffer[name.size()] = 0;
  *size = needed - 1;
  return true;
}

bool SimPlatform::GetVersionEx(OsVersionInfo* info) {
  if (const uint32_t status = Tick("GetVersionEx")) {
    lastError_ = status;
    return false;
  }
  if (info == nullptr) {
    lastError_ = kErrorInvalidParameter;
    return false;
  }
  // OSVERSIONINFOW or OSVERSIONINFOEXW.
  if (info->size != 276 && info->size != 284) {
    lastError_ = kErrorInsufficientBuffer;
    return false;
  }
  VersionOfBuild(Local().build, &info->majorVersion, &info->minorVersion);
  info->buildNumber = Local().build;
  info->platformId = 2;  // VER_PLATFORM_WIN32_NT
  info->csdVersion[0] = 0;
  return true;
}

// %NAME% is replaced by the variable's value when it is defined (names
// compare case-insensitively) and kept as written when not; a lone % stays.
std::u16string SimPlatform::ExpandWith(const Environment& environment, std::u16string_view text) {
  std::u16string expanded;
  size_t at = 0;
  while (at < text.size()) {
    if (text[at] != u'%') {
      const size_t next = std::min(text.find(u'%', at), text.size());
      expanded.append(text.substr(at, next - at));
      at = next;
      continue;
    }
    const size_t close = text.find(u'%', at + 1);
    if (close == std::u16string_view::npos) {
      expanded.append(text.substr(at));
      break;
    }
    const std::u16string_view name = text.substr(at + 1, close - at - 1);
    auto found = name.empty() ? environment.end() : environment.find(name);
    if (found != environment.end()) {
      expanded.append(found->second);
    } else {
      expanded.append(text.substr(at, close - at + 1));
    }
    at = close + 1;
  }
  return expanded;
}

// Returns the length needed, terminator included. A result that fits is
// written with its terminator; one that does not fills the whole buffer
// with its first characters and no terminator, since Windows promises
// nothing about the buffer then.
uint32_t SimPlatform::ExpandEnvironmentStrings(const char16_t* source, char16_t* destination,
                                               uint32_t capacity) {
  if (const uint32_t status = Tick("ExpandEnvironmentStrings")) {
    lastError_ = status;
    return 0;
  }
  const std::u16string expanded = Expand(View(source));
  if (destination != nullptr && capacity > 0) {
    if (expanded.size() < capacity) {
      std::copy(expanded.begin(), expanded.end(), destination);
      destination[expanded.size()] = 0;
    } else {
      std::copy_n(expanded.begin(), capacity, destination);
    }
  }
  return static_cast<uint32_t>(expanded.size() + 1);
}

// --- Time --------------------------------------------------------------------

FileTime SimPlatform::GetSystemTimeAsFileTime() {
  return now_;
}

bool SimPlatform::FileTimeToLocalFileTime(FileTime utc, FileTime* local) {
  if (const uint32_t status = Tick("FileTimeToLocalFileTime")) {
    lastError_ = status;
    return false;
  }
  if (local == nullptr) {
    lastError_ = kErrorInvalidParameter;
    return false;
  }
  // local = UTC - bias, in wrapping 64-bit arithmetic as Windows does it.
  const uint64_t bias = static_cast<uint64_t>(static_cast<int64_t>(biasMinutes_)) * kTicksPerMinute;
  *local = utc - bias;
  return true;
}

bool SimPlatform::FileTimeToSystemTime(FileTime time, SystemTime* calendar) {
  if (const uint32_t status = Tick("FileTimeToSystemTime")) {
    lastError_ = status;
    return false;
  }
  if (calendar == nullptr || !FileTimeToCalendar(time, calendar)) {
    lastError_ = kErrorInvalidParameter;
    return false;
  }
  return true;
}

// --- Console -----------------------------------------------------------------

bool SimPlatform::StandardOutputIsConsole() {
  return captureStdout_ ? stdoutIsConsole_ : ::isatty(1) == 1;
}

bool SimPlatform::WriteStandardOutput(const char* bytes, size_t count) {
  if (captureStdout_) {
    stdout_.append(bytes, count);
    return true;
  }
  while (count > 0) {
    const ssize_t written = ::write(1, bytes, count);
    if (written < 0) {
      if (errno == EINTR) continue;
      return false;
    }
    bytes += written;
    count -= static_cast<size_t>(written);
  }
  return true;
}

bool SimPlatform::OpenConsoleInput() {
  if (!hasConsole_) {
    lastError_ = kErrorInvalidHandle;
    return false;
  }
  consoleInputOpen_ = true;
  return true;
}

bool SimPlatform::GetConsoleInputMode(uint32_t* mode) {
  if (!consoleInputOpen_ || mode == nullptr) {
    lastError_ = kErrorInvalidHandle;
    return false;
  }
  *mode = consoleMode_;
  return true;
}

bool SimPlatform::SetConsoleInputMode(uint32_t mode) {
  if (!consoleInputOpen_) {
    lastError_ = kErrorInvalidHandle;
    return false;
  }
  consoleMode_ = mode;
  return true;
}

// A real console waits for the next event; the script ends instead, so a
// test whose command asks for more keys than staged fails rather than hangs.
bool SimPlatform::ReadConsoleInput(ConsoleInputEvent* event) {
  if (!consoleInputOpen_ || event == nullptr) {
    lastError_ = kErrorInvalidHandle;
    return false;
  }
  // With processed input on (ENABLE_PROCESSED_INPUT, the console's usual
  // mode), Ctrl+C is handled by the system and never reaches the buffer.
  constexpr uint32_t kProcessedInput = 0x0001;
  while (!consoleEvents_.empty() && (consoleMode_ & kProcessedInput) != 0 &&
         consoleEvents_.front().isKeyEvent && consoleEvents_.front().character == 3) {
    consoleEvents_.pop_front();
  }
  if (consoleEvents_.empty()) {
    lastError_ = kErrorHandleEof;
    return false;
  }
  *event = consoleEvents_.front();
  consoleEvents_.pop_front();
  return true;
}

bool SimPlatform::OpenConsoleOutput() {
  if (!hasConsole_) {
    lastError_ = kErrorInvalidHandle;
    return false;
  }
  consoleOutputOpen_ = true;
  return true;
}

bool SimPlatform::WriteConsoleByte(uint8_t byte) {
  if (!consoleOutputOpen_) {
    lastError_ = kErrorInvalidHandle;
    return false;
  }
  consoleEcho_.push_back(static_cast<char>(byte));
  return true;
}

void SimPlatform::GetSystemErrorText(uint32_t error, char16_t* buffer, uint32_t capacity) {
  auto found = errorTexts_.find(error);
  CopyText(buffer, capacity, found == errorTexts_.end() ? u"" : found->second.c_str());
}

}  // namespace wf::sim
