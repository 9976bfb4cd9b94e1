// The operating-system operations the command uses, behind one interface.
// Win32-shaped on purpose: statuses are Win32 error numbers, handles are
// opaque values, and a thread last-error exists. The real backend forwards
// to Windows; the simulated backend models Windows computers.
#pragma once

#include <cstddef>
#include <cstdint>

namespace wf {

// Win32 status numbers the command names.
enum : uint32_t {
  kErrorSuccess = 0,
  kErrorFileNotFound = 2,
  kErrorPathNotFound = 3,
  kErrorAccessDenied = 5,
  kErrorInvalidHandle = 6,
  kErrorInvalidData = 13,
  kErrorSharingViolation = 32,
  kErrorBadNetPath = 53,
  kErrorInvalidParameter = 87,
  kErrorFilenameTooLong = 206,
  kErrorDeletePending = 303,
  kErrorMoreData = 234,
  kErrorNoMoreItems = 259,
  kErrorCantOpen = 1011,
  kErrorCancelled = 1223,
};

// Exception codes.
enum : uint32_t {
  kExceptionAccessViolation = 0xC0000005u,
  kDelayLoadModuleNotFound = 0xC06D007Eu,
  kDelayLoadProcNotFound = 0xC06D007Fu,
};

// Registry.
using RegKey = uint64_t;  // opaque; 0 is no key
inline constexpr RegKey kNoKey = 0;
inline constexpr RegKey kHKeyLocalMachine = 0x80000002u;
enum : uint32_t {
  kRegNone = 0,
  kRegSz = 1,
  kRegExpandSz = 2,
  kRegBinary = 3,
  kRegDword = 4,
  kRegMultiSz = 7,
  kRegQword = 11,
};
enum : uint32_t {
  kKeyQueryValue = 0x0001,
  kKeyEnumerateSubKeys = 0x0008,
  kKeyNotify = 0x0010,
  kDelete = 0x00010000,
  kReadControl = 0x00020000,
  kKeyRead = 0x00020019,
  kKeyAllAccess = 0x000F003F,
};

// Files.
using FileHandle = int64_t;  // opaque; -1 is the invalid handle
inline constexpr FileHandle kInvalidHandle = -1;
enum : uint32_t {
  kGenericRead = 0x80000000u,
  kGenericWrite = 0x40000000u,
  kFileShareRead = 1,
  kFileShareWrite = 2,
  kFileShareDelete = 4,
  kOpenExisting = 3,
  kFileAttributeReadOnly = 0x01,
  kFileAttributeHidden = 0x02,
  kFileAttributeSystem = 0x04,
  kFileAttributeDirectory = 0x10,
  kFileAttributeArchive = 0x20,
  kFileAttributeNormal = 0x80,
};

// 100-nanosecond ticks since 1 January 1601 (UTC or local, as named).
using FileTime = uint64_t;

struct SystemTime {
  uint16_t year = 0;
  uint16_t month = 0;
  uint16_t dayOfWeek = 0;
  uint16_t day = 0;
  uint16_t hour = 0;
  uint16_t minute = 0;
  uint16_t second = 0;
  uint16_t milliseconds = 0;
};

struct FindData {
  uint32_t attributes = 0;
  FileTime creationTime = 0;
  FileTime lastAccessTime = 0;
  FileTime lastWriteTime = 0;
  uint64_t fileSize = 0;
  char16_t fileName[260] = {};
};

struct OsVersionInfo {
  uint32_t size = 276;  // the size field of OSVERSIONINFOW
  uint32_t majorVersion = 0;
  uint32_t minorVersion = 0;
  uint32_t buildNumber = 0;
  uint32_t platformId = 0;
  char16_t csdVersion[128] = {};
};

// One console input record, reduced to what the key read looks at.
enum : uint32_t {
  kRightAltPressed = 0x0001,
  kLeftAltPressed = 0x0002,
  kRightCtrlPressed = 0x0004,
  kLeftCtrlPressed = 0x0008,
  kShiftPressed = 0x0010,
  kEnhancedKey = 0x0100,
};
struct ConsoleInputEvent {
  bool isKeyEvent = false;
  bool keyDown = false;
  uint8_t character = 0;  // in the console's input code page; 0 when none
  uint16_t scanCode = 0;
  uint32_t controlKeyState = 0;
};

// What a guard's filter sees of a fault. For the two late-binding codes the
// failure record is decoded: module, and function name or ordinal.
struct FaultInfo {
  uint32_t code = 0;
  bool hasDelayLoadInfo = false;
  const char* moduleName = nullptr;
  bool importByName = false;
  const char* functionName = nullptr;
  uint32_t ordinal = 0;
};

// Filter answers.
enum : int32_t {
  kExceptionContinueSearch = 0,
  kExceptionExecuteHandler = 1,
};

using GuardBody = void (*)(void* context);
using GuardFilter = int32_t (*)(const FaultInfo& fault, void* context);

class Platform {
 public:
  virtual ~Platform() = default;

  // Thread last-error.
  virtual uint32_t GetLastError() = 0;
  virtual void SetLastError(uint32_t error) = 0;

  // System information. GetComputerName takes the capacity in *size
  // (terminator included) and sets it to the length on success.
  virtual bool GetComputerName(char16_t* buffer, uint32_t* size) = 0;
  virtual bool GetVersionEx(OsVersionInfo* info) = 0;
  // Returns the characters needed including the terminator (the real call's
  // result), or 0 on failure; output is cut as the real call cuts it.
  virtual uint32_t ExpandEnvironmentStrings(const char16_t* source, char16_t* destination,
                                            uint32_t capacity) = 0;

  // Registry: statuses are Win32 error numbers.
  virtual int32_t RegConnectRegistry(const char16_t* machineName, RegKey root, RegKey* result) = 0;
  virtual int32_t RegOpenKeyEx(RegKey key, const char16_t* subKey, uint32_t options,
                               uint32_t access, RegKey* result) = 0;
  // *byteCount holds the bytes offered and receives the bytes stored (or
  // needed, with ERROR_MORE_DATA). type and data may be null.
  virtual int32_t RegQueryValueEx(RegKey key, const char16_t* valueName, uint32_t* type,
                                  uint8_t* data, uint32_t* byteCount) = 0;
  // *nameChars holds the capacity and receives the length of the name.
  virtual int32_t RegEnumKeyEx(RegKey key, uint32_t index, char16_t* name, uint32_t* nameChars) = 0;
  virtual int32_t RegDeleteKey(RegKey key, const char16_t* subKey) = 0;
  virtual int32_t RegCloseKey(RegKey key) = 0;

  // Files.
  virtual FileHandle FindFirstFile(const char16_t* path, FindData* data) = 0;
  virtual bool FindClose(FileHandle handle) = 0;
  virtual FileHandle CreateFile(const char16_t* path, uint32_t access, uint32_t shareMode,
                                uint32_t disposition, uint32_t attributes) = 0;
  virtual bool CloseHandle(FileHandle handle) = 0;
  virtual bool GetDiskFreeSpaceEx(const char16_t* path, uint64_t* availableToCaller,
                                  uint64_t* totalBytes, uint64_t* totalFreeBytes) = 0;

  // Time.
  virtual FileTime GetSystemTimeAsFileTime() = 0;
  virtual bool FileTimeToLocalFileTime(FileTime utc, FileTime* local) = 0;
  virtual bool FileTimeToSystemTime(FileTime time, SystemTime* calendar) = 0;

  // Profile deletion service: true on success, else the reason in last-error.
  virtual bool DeleteProfile(const char16_t* sid, const char16_t* profilePath,
                             const char16_t* computerName) = 0;

  // Standard output as a byte stream, and whether it is a console.
  virtual bool StandardOutputIsConsole() = 0;
  virtual bool WriteStandardOutput(const char* bytes, size_t count) = 0;

  // Console devices for the prompt key: CONIN$ and CONOUT$.
  virtual bool OpenConsoleInput() = 0;
  virtual bool GetConsoleInputMode(uint32_t* mode) = 0;
  virtual bool SetConsoleInputMode(uint32_t mode) = 0;
  virtual bool ReadConsoleInput(ConsoleInputEvent* event) = 0;
  virtual bool OpenConsoleOutput() = 0;
  virtual bool WriteConsoleByte(uint8_t byte) = 0;

  // The system's text for an error number, cut at capacity - 1 and always
  // terminated; empty when there is none.
  virtual void GetSystemErrorText(uint32_t error, char16_t* buffer, uint32_t capacity) = 0;

  // Fault guards. RunGuarded runs body; a fault raised inside it is shown to
  // filter, which answers kExceptionExecuteHandler (the fault ends here and
  // RunGuarded returns false) or kExceptionContinueSearch (the fault passes
  // on to the next outer guard). Returns true when body completed.
  virtual bool RunGuarded(GuardBody body, void* bodyContext, GuardFilter filter,
                          void* filterContext) = 0;
  // Runs body, then closing; closing also runs when a fault passes out of
  // body, and the fault then goes on outwards.
  virtual void RunWithClosing(GuardBody body, void* bodyContext, GuardBody closing,
                              void* closingContext) = 0;
  // Raises a fault with the given code (no late-binding record).
  [[noreturn]] virtual void RaiseFault(uint32_t code) = 0;
};

}  // namespace wf
