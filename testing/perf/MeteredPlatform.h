// A forwarding Platform that counts every call by kind and measures the time
// spent inside the platform underneath. While a call is in progress it marks
// the platform as busy, so that the allocations made there are not charged
// to the command; the bodies and filters that the fault guards run are the
// command's own code again and are measured as such.
#pragma once

#include <array>
#include <cstdint>
#include <vector>
#if defined(__x86_64__) || defined(__i386__)
#include <x86intrin.h>
#else
#include <chrono>
#endif

#include "platform/Platform.h"

namespace wf::perf {

enum class Call : uint8_t {
  GetLastError,
  SetLastError,
  GetComputerName,
  GetVersionEx,
  ExpandEnvironmentStrings,
  RegConnectRegistry,
  RegOpenKeyEx,
  RegQueryValueEx,
  RegEnumKeyEx,
  RegDeleteKey,
  RegCloseKey,
  FindFirstFile,
  FindClose,
  CreateFile,
  CloseHandle,
  GetDiskFreeSpaceEx,
  GetSystemTimeAsFileTime,
  FileTimeToLocalFileTime,
  FileTimeToSystemTime,
  DeleteProfile,
  StandardOutputIsConsole,
  WriteStandardOutput,
  OpenConsoleInput,
  GetConsoleInputMode,
  SetConsoleInputMode,
  ReadConsoleInput,
  OpenConsoleOutput,
  WriteConsoleByte,
  GetSystemErrorText,
  RunGuarded,
  RunWithClosing,
  RaiseFault,
};
inline constexpr size_t kCallKinds = static_cast<size_t>(Call::RaiseFault) + 1;

// The operation's name, as the simulation names it.
const char* CallName(Call call);

// The meter's clock: the processor's time-stamp counter where there is one
// (a read costs a few dozen cycles, against a hundred nanoseconds and more
// for the system clock on a virtual machine), else the steady clock. Its
// unit is converted to time over a whole measured pass.
inline uint64_t MeterTicks() {
#if defined(__x86_64__) || defined(__i386__)
  return __rdtsc();
#else
  return static_cast<uint64_t>(std::chrono::steady_clock::now().time_since_epoch().count());
#endif
}

class MeteredPlatform final : public Platform {
 public:
  explicit MeteredPlatform(Platform& inner) : inner_(inner) {}

  uint64_t Count(Call call) const { return counts_[static_cast<size_t>(call)]; }
  uint64_t TotalCalls() const;
  // Time spent inside the platform in MeterTicks, guard bookkeeping
  // included and the guarded bodies excluded.
  uint64_t PlatformTicks() const { return platformTicks_; }

  // Makes every call end by reading this many bytes of other memory (inside
  // the platform's time), as a platform working over large data does: what
  // the command's code then costs when the caches hold none of its own.
  void EvictAfterEachCall(size_t bytes) { eviction_.assign(bytes, 1); }

  uint32_t GetLastError() override;
  void SetLastError(uint32_t error) override;
  bool GetComputerName(char16_t* buffer, uint32_t* size) override;
  bool GetVersionEx(OsVersionInfo* info) override;
  uint32_t ExpandEnvironmentStrings(const char16_t* source, char16_t* destination,
                                    uint32_t capacity) override;
  int32_t RegConnectRegistry(const char16_t* machineName, RegKey root, RegKey* result) override;
  int32_t RegOpenKeyEx(RegKey key, const char16_t* subKey, uint32_t options, uint32_t access,
                       RegKey* result) override;
  int32_t RegQueryValueEx(RegKey key, const char16_t* valueName, uint32_t* type, uint8_t* data,
                          uint32_t* byteCount) override;
  int32_t RegEnumKeyEx(RegKey key, uint32_t index, char16_t* name, uint32_t* nameChars) override;
  int32_t RegDeleteKey(RegKey key, const char16_t* subKey) override;
  int32_t RegCloseKey(RegKey key) override;
  FileHandle FindFirstFile(const char16_t* path, FindData* data) override;
  bool FindClose(FileHandle handle) override;
  FileHandle CreateFile(const char16_t* path, uint32_t access, uint32_t shareMode,
                        uint32_t disposition, uint32_t attributes) override;
  bool CloseHandle(FileHandle handle) override;
  bool GetDiskFreeSpaceEx(const char16_t* path, uint64_t* availableToCaller, uint64_t* totalBytes,
                          uint64_t* totalFreeBytes) override;
  FileTime GetSystemTimeAsFileTime() override;
  bool FileTimeToLocalFileTime(FileTime utc, FileTime* local) override;
  bool FileTimeToSystemTime(FileTime time, SystemTime* calendar) override;
  bool DeleteProfile(const char16_t* sid, const char16_t* profilePath,
                     const char16_t* computerName) override;
  bool StandardOutputIsConsole() override;
  bool WriteStandardOutput(const char* bytes, size_t count) override;
  bool OpenConsoleInput() override;
  bool GetConsoleInputMode(uint32_t* mode) override;
  bool SetConsoleInputMode(uint32_t mode) override;
  bool ReadConsoleInput(ConsoleInputEvent* event) override;
  bool OpenConsoleOutput() override;
  bool WriteConsoleByte(uint8_t byte) override;
  void GetSystemErrorText(uint32_t error, char16_t* buffer, uint32_t capacity) override;
  bool RunGuarded(GuardBody body, void* bodyContext, GuardFilter filter,
                  void* filterContext) override;
  void RunWithClosing(GuardBody body, void* bodyContext, GuardBody closing,
                      void* closingContext) override;
  [[noreturn]] void RaiseFault(uint32_t code) override;

 private:
  class InPlatform;
  class InCommand;
  struct GuardedBody;
  struct GuardedFilter;

  // Entering and leaving the platform: the busy mark and the clock.
  void Enter();
  void Leave();

  Platform& inner_;
  std::array<uint64_t, kCallKinds> counts_{};
  void Evict();

  std::vector<uint8_t> eviction_;
  uint64_t evictionSum_ = 0;
  uint64_t platformTicks_ = 0;
  uint64_t enteredAt_ = 0;
};

}  // namespace wf::perf
