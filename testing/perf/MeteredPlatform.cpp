#include "MeteredPlatform.h"

#include <cstdlib>

#include "AllocationMeter.h"

namespace wf::perf {

namespace {

constexpr const char* kCallNames[kCallKinds] = {
    "GetLastError",
    "SetLastError",
    "GetComputerName",
    "GetVersionEx",
    "ExpandEnvironmentStrings",
    "RegConnectRegistry",
    "RegOpenKeyEx",
    "RegQueryValueEx",
    "RegEnumKeyEx",
    "RegDeleteKey",
    "RegCloseKey",
    "FindFirstFile",
    "FindClose",
    "CreateFile",
    "CloseHandle",
    "GetDiskFreeSpaceEx",
    "GetSystemTimeAsFileTime",
    "FileTimeToLocalFileTime",
    "FileTimeToSystemTime",
    "DeleteProfile",
    "StandardOutputIsConsole",
    "WriteStandardOutput",
    "OpenConsoleInput",
    "GetConsoleInputMode",
    "SetConsoleInputMode",
    "ReadConsoleInput",
    "OpenConsoleOutput",
    "WriteConsoleByte",
    "GetSystemErrorText",
    "RunGuarded",
    "RunWithClosing",
    "RaiseFault",
};

}  // namespace

const char* CallName(Call call) {
  return kCallNames[static_cast<size_t>(call)];
}

uint64_t MeteredPlatform::TotalCalls() const {
  uint64_t total = 0;
  for (const uint64_t count : counts_) total += count;
  return total;
}

void MeteredPlatform::Enter() {
  SetInsidePlatform(true);
  enteredAt_ = MeterTicks();
}

void MeteredPlatform::Evict() {
  constexpr size_t kCacheLine = 64;
  for (size_t at = 0; at < eviction_.size(); at += kCacheLine) evictionSum_ += eviction_[at];
}

void MeteredPlatform::Leave() {
  Evict();
  platformTicks_ += MeterTicks() - enteredAt_;
  SetInsidePlatform(false);
}

// One platform call, counted, timed and marked from start to end, also when
// a fault leaves it.
class MeteredPlatform::InPlatform {
 public:
  InPlatform(MeteredPlatform& meter, Call call) : meter_(meter) {
    ++meter.counts_[static_cast<size_t>(call)];
    meter.Enter();
  }
  ~InPlatform() { meter_.Leave(); }
  InPlatform(const InPlatform&) = delete;
  InPlatform& operator=(const InPlatform&) = delete;

 private:
  MeteredPlatform& meter_;
};

// The command's own code run from inside a guard call: the reverse.
class MeteredPlatform::InCommand {
 public:
  explicit InCommand(MeteredPlatform& meter) : meter_(meter) { meter.Leave(); }
  ~InCommand() { meter_.Enter(); }
  InCommand(const InCommand&) = delete;
  InCommand& operator=(const InCommand&) = delete;

 private:
  MeteredPlatform& meter_;
};

struct MeteredPlatform::GuardedBody {
  MeteredPlatform* meter;
  GuardBody body;
  void* context;

  static void Run(void* self) {
    auto* guarded = static_cast<GuardedBody*>(self);
    InCommand command(*guarded->meter);
    guarded->body(guarded->context);
  }
};

struct MeteredPlatform::GuardedFilter {
  MeteredPlatform* meter;
  GuardFilter filter;
  void* context;

  static int32_t Run(const FaultInfo& fault, void* self) {
    auto* guarded = static_cast<GuardedFilter*>(self);
    InCommand command(*guarded->meter);
    return guarded->filter(fault, guarded->context);
  }
};

uint32_t MeteredPlatform::GetLastError() {
  InPlatform call(*this, Call::GetLastError);
  return inner_.GetLastError();
}

void MeteredPlatform::SetLastError(uint32_t error) {
  InPlatform call(*this, Call::SetLastError);
  inner_.SetLastError(error);
}

bool MeteredPlatform::GetComputerName(char16_t* buffer, uint32_t* size) {
  InPlatform call(*this, Call::GetComputerName);
  return inner_.GetComputerName(buffer, size);
}

bool MeteredPlatform::GetVersionEx(OsVersionInfo* info) {
  InPlatform call(*this, Call::GetVersionEx);
  return inner_.GetVersionEx(info);
}

uint32_t MeteredPlatform::ExpandEnvironmentStrings(const char16_t* source, char16_t* destination,
                                                   uint32_t capacity) {
  InPlatform call(*this, Call::ExpandEnvironmentStrings);
  return inner_.ExpandEnvironmentStrings(source, destination, capacity);
}

int32_t MeteredPlatform::RegConnectRegistry(const char16_t* machineName, RegKey root,
                                            RegKey* result) {
  InPlatform call(*this, Call::RegConnectRegistry);
  return inner_.RegConnectRegistry(machineName, root, result);
}

int32_t MeteredPlatform::RegOpenKeyEx(RegKey key, const char16_t* subKey, uint32_t options,
                                      uint32_t access, RegKey* result) {
  InPlatform call(*this, Call::RegOpenKeyEx);
  return inner_.RegOpenKeyEx(key, subKey, options, access, result);
}

int32_t MeteredPlatform::RegQueryValueEx(RegKey key, const char16_t* valueName, uint32_t* type,
                                         uint8_t* data, uint32_t* byteCount) {
  InPlatform call(*this, Call::RegQueryValueEx);
  return inner_.RegQueryValueEx(key, valueName, type, data, byteCount);
}

int32_t MeteredPlatform::RegEnumKeyEx(RegKey key, uint32_t index, char16_t* name,
                                      uint32_t* nameChars) {
  InPlatform call(*this, Call::RegEnumKeyEx);
  return inner_.RegEnumKeyEx(key, index, name, nameChars);
}

int32_t MeteredPlatform::RegDeleteKey(RegKey key, const char16_t* subKey) {
  InPlatform call(*this, Call::RegDeleteKey);
  return inner_.RegDeleteKey(key, subKey);
}

int32_t MeteredPlatform::RegCloseKey(RegKey key) {
  InPlatform call(*this, Call::RegCloseKey);
  return inner_.RegCloseKey(key);
}

FileHandle MeteredPlatform::FindFirstFile(const char16_t* path, FindData* data) {
  InPlatform call(*this, Call::FindFirstFile);
  return inner_.FindFirstFile(path, data);
}

bool MeteredPlatform::FindClose(FileHandle handle) {
  InPlatform call(*this, Call::FindClose);
  return inner_.FindClose(handle);
}

FileHandle MeteredPlatform::CreateFile(const char16_t* path, uint32_t access, uint32_t shareMode,
                                       uint32_t disposition, uint32_t attributes) {
  InPlatform call(*this, Call::CreateFile);
  return inner_.CreateFile(path, access, shareMode, disposition, attributes);
}

bool MeteredPlatform::CloseHandle(FileHandle handle) {
  InPlatform call(*this, Call::CloseHandle);
  return inner_.CloseHandle(handle);
}

bool MeteredPlatform::GetDiskFreeSpaceEx(const char16_t* path, uint64_t* availableToCaller,
                                         uint64_t* totalBytes, uint64_t* totalFreeBytes) {
  InPlatform call(*this, Call::GetDiskFreeSpaceEx);
  return inner_.GetDiskFreeSpaceEx(path, availableToCaller, totalBytes, totalFreeBytes);
}

FileTime MeteredPlatform::GetSystemTimeAsFileTime() {
  InPlatform call(*this, Call::GetSystemTimeAsFileTime);
  return inner_.GetSystemTimeAsFileTime();
}

bool MeteredPlatform::FileTimeToLocalFileTime(FileTime utc, FileTime* local) {
  InPlatform call(*this, Call::FileTimeToLocalFileTime);
  return inner_.FileTimeToLocalFileTime(utc, local);
}

bool MeteredPlatform::FileTimeToSystemTime(FileTime time, SystemTime* calendar) {
  InPlatform call(*this, Call::FileTimeToSystemTime);
  return inner_.FileTimeToSystemTime(time, calendar);
}

bool MeteredPlatform::DeleteProfile(const char16_t* sid, const char16_t* profilePath,
                                    const char16_t* computerName) {
  InPlatform call(*this, Call::DeleteProfile);
  return inner_.DeleteProfile(sid, profilePath, computerName);
}

bool MeteredPlatform::StandardOutputIsConsole() {
  InPlatform call(*this, Call::StandardOutputIsConsole);
  return inner_.StandardOutputIsConsole();
}

bool MeteredPlatform::WriteStandardOutput(const char* bytes, size_t count) {
  InPlatform call(*this, Call::WriteStandardOutput);
  return inner_.WriteStandardOutput(bytes, count);
}

bool MeteredPlatform::OpenConsoleInput() {
  InPlatform call(*this, Call::OpenConsoleInput);
  return inner_.OpenConsoleInput();
}

bool MeteredPlatform::GetConsoleInputMode(uint32_t* mode) {
  InPlatform call(*this, Call::GetConsoleInputMode);
  return inner_.GetConsoleInputMode(mode);
}

bool MeteredPlatform::SetConsoleInputMode(uint32_t mode) {
  InPlatform call(*this, Call::SetConsoleInputMode);
  return inner_.SetConsoleInputMode(mode);
}

bool MeteredPlatform::ReadConsoleInput(ConsoleInputEvent* event) {
  InPlatform call(*this, Call::ReadConsoleInput);
  return inner_.ReadConsoleInput(event);
}

bool MeteredPlatform::OpenConsoleOutput() {
  InPlatform call(*this, Call::OpenConsoleOutput);
  return inner_.OpenConsoleOutput();
}

bool MeteredPlatform::WriteConsoleByte(uint8_t byte) {
  InPlatform call(*this, Call::WriteConsoleByte);
  return inner_.WriteConsoleByte(byte);
}

void MeteredPlatform::GetSystemErrorText(uint32_t error, char16_t* buffer, uint32_t capacity) {
  InPlatform call(*this, Call::GetSystemErrorText);
  inner_.GetSystemErrorText(error, buffer, capacity);
}

bool MeteredPlatform::RunGuarded(GuardBody body, void* bodyContext, GuardFilter filter,
                                 void* filterContext) {
  GuardedBody guardedBody{this, body, bodyContext};
  GuardedFilter guardedFilter{this, filter, filterContext};
  InPlatform call(*this, Call::RunGuarded);
  return inner_.RunGuarded(&GuardedBody::Run, &guardedBody, &GuardedFilter::Run, &guardedFilter);
}

void MeteredPlatform::RunWithClosing(GuardBody body, void* bodyContext, GuardBody closing,
                                     void* closingContext) {
  GuardedBody guardedBody{this, body, bodyContext};
  GuardedBody guardedClosing{this, closing, closingContext};
  InPlatform call(*this, Call::RunWithClosing);
  inner_.RunWithClosing(&GuardedBody::Run, &guardedBody, &GuardedBody::Run, &guardedClosing);
}

void MeteredPlatform::RaiseFault(uint32_t code) {
  {
    InPlatform call(*this, Call::RaiseFault);
    inner_.RaiseFault(code);
  }
  std::abort();  // the platform's raise does not return
}

}  // namespace wf::perf
