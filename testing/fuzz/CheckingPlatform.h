// A platform that forwards every operation to another one and lets the
// fuzz targets look at each deletion before it happens, while the state it
// is judged by is still the state the command saw.
#pragma once

#include <functional>
#include <utility>

#include "platform/Platform.h"

namespace wf::fuzz {

class CheckingPlatform final : public Platform {
 public:
  using DeleteProfileHook = std::function<void(const char16_t* sid, const char16_t* profilePath,
                                               const char16_t* computerName)>;
  using RegDeleteKeyHook = std::function<void(RegKey key, const char16_t* subKey)>;

  CheckingPlatform(Platform& inner, DeleteProfileHook onDeleteProfile,
                   RegDeleteKeyHook onRegDeleteKey)
      : inner_(inner),
        onDeleteProfile_(std::move(onDeleteProfile)),
        onRegDeleteKey_(std::move(onRegDeleteKey)) {}

  uint32_t GetLastError() override { return inner_.GetLastError(); }
  void SetLastError(uint32_t error) override { inner_.SetLastError(error); }
  bool GetComputerName(char16_t* buffer, uint32_t* size) override {
    return inner_.GetComputerName(buffer, size);
  }
  bool GetVersionEx(OsVersionInfo* info) override { return inner_.GetVersionEx(info); }
  uint32_t ExpandEnvironmentStrings(const char16_t* source, char16_t* destination,
                                    uint32_t capacity) override {
    return inner_.ExpandEnvironmentStrings(source, destination, capacity);
  }
  int32_t RegConnectRegistry(const char16_t* machineName, RegKey root, RegKey* result) override {
    return inner_.RegConnectRegistry(machineName, root, result);
  }
  int32_t RegOpenKeyEx(RegKey key, const char16_t* subKey, uint32_t options, uint32_t access,
                       RegKey* result) override {
    return inner_.RegOpenKeyEx(key, subKey, options, access, result);
  }
  int32_t RegQueryValueEx(RegKey key, const char16_t* valueName, uint32_t* type, uint8_t* data,
                          uint32_t* byteCount) override {
    return inner_.RegQueryValueEx(key, valueName, type, data, byteCount);
  }
  int32_t RegEnumKeyEx(RegKey key, uint32_t index, char16_t* name, uint32_t* nameChars) override {
    return inner_.RegEnumKeyEx(key, index, name, nameChars);
  }
  int32_t RegDeleteKey(RegKey key, const char16_t* subKey) override {
    if (onRegDeleteKey_) onRegDeleteKey_(key, subKey);
    return inner_.RegDeleteKey(key, subKey);
  }
  int32_t RegCloseKey(RegKey key) override { return inner_.RegCloseKey(key); }
  FileHandle FindFirstFile(const char16_t* path, FindData* data) override {
    return inner_.FindFirstFile(path, data);
  }
  bool FindClose(FileHandle handle) override { return inner_.FindClose(handle); }
  FileHandle CreateFile(const char16_t* path, uint32_t access, uint32_t shareMode,
                        uint32_t disposition, uint32_t attributes) override {
    return inner_.CreateFile(path, access, shareMode, disposition, attributes);
  }
  bool CloseHandle(FileHandle handle) override { return inner_.CloseHandle(handle); }
  bool GetDiskFreeSpaceEx(const char16_t* path, uint64_t* availableToCaller, uint64_t* totalBytes,
                          uint64_t* totalFreeBytes) override {
    return inner_.GetDiskFreeSpaceEx(path, availableToCaller, totalBytes, totalFreeBytes);
  }
  FileTime GetSystemTimeAsFileTime() override { return inner_.GetSystemTimeAsFileTime(); }
  bool FileTimeToLocalFileTime(FileTime utc, FileTime* local) override {
    return inner_.FileTimeToLocalFileTime(utc, local);
  }
  bool FileTimeToSystemTime(FileTime time, SystemTime* calendar) override {
    return inner_.FileTimeToSystemTime(time, calendar);
  }
  bool DeleteProfile(const char16_t* sid, const char16_t* profilePath,
                     const char16_t* computerName) override {
    if (onDeleteProfile_) onDeleteProfile_(sid, profilePath, computerName);
    return inner_.DeleteProfile(sid, profilePath, computerName);
  }
  bool StandardOutputIsConsole() override { return inner_.StandardOutputIsConsole(); }
  bool WriteStandardOutput(const char* bytes, size_t count) override {
    return inner_.WriteStandardOutput(bytes, count);
  }
  bool OpenConsoleInput() override { return inner_.OpenConsoleInput(); }
  bool GetConsoleInputMode(uint32_t* mode) override { return inner_.GetConsoleInputMode(mode); }
  bool SetConsoleInputMode(uint32_t mode) override { return inner_.SetConsoleInputMode(mode); }
  bool ReadConsoleInput(ConsoleInputEvent* event) override {
    return inner_.ReadConsoleInput(event);
  }
  bool OpenConsoleOutput() override { return inner_.OpenConsoleOutput(); }
  bool WriteConsoleByte(uint8_t byte) override { return inner_.WriteConsoleByte(byte); }
  void GetSystemErrorText(uint32_t error, char16_t* buffer, uint32_t capacity) override {
    inner_.GetSystemErrorText(error, buffer, capacity);
  }
  bool RunGuarded(GuardBody body, void* bodyContext, GuardFilter filter,
                  void* filterContext) override {
    return inner_.RunGuarded(body, bodyContext, filter, filterContext);
  }
  void RunWithClosing(GuardBody body, void* bodyContext, GuardBody closing,
                      void* closingContext) override {
    inner_.RunWithClosing(body, bodyContext, closing, closingContext);
  }
  [[noreturn]] void RaiseFault(uint32_t code) override { inner_.RaiseFault(code); }

 private:
  Platform& inner_;
  DeleteProfileHook onDeleteProfile_;
  RegDeleteKeyHook onRegDeleteKey_;
};

}  // namespace wf::fuzz
