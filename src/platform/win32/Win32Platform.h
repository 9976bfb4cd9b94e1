// The real backend: every platform operation forwards to the Windows call of
// the same name (the W form where there is one).
#pragma once

#include "platform/Platform.h"

namespace wf {

class Win32Platform final : public Platform {
 public:
  Win32Platform() = default;
  ~Win32Platform() override;
  Win32Platform(const Win32Platform&) = delete;
  Win32Platform& operator=(const Win32Platform&) = delete;

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
  // The console devices, opened once; a failed open is not retried.
  // Stored as the raw HANDLE values so that this header needs no
  // Windows headers.
  void* consoleInput_ = nullptr;
  bool consoleInputTried_ = false;
  void* consoleOutput_ = nullptr;
  bool consoleOutputTried_ = false;
};

}  // namespace wf
