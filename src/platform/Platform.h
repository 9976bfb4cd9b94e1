// The operating-system operations the command uses, behind one interface.
// Win32-shaped on purpose: statuses are Win32 error numbers, handles are
// opaque values, and a thread last-error exists. The real backend forwards
// to Windows; the simulated backend models Windows computers.
#pragma once

#include <cstddef>
#include <cstdint>

#include "platform/PlatformOperations.h"

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
  kErrorEnvvarNotFound = 203,
  kErrorFilenameTooLong = 206,
  kErrorDeletePending = 303,
  kErrorMoreData = 234,
  kErrorNoMoreItems = 259,
  kErrorCantOpen = 1011,
  kErrorCancelled = 1223,
  kErrorInvalidSid = 1337,
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

// A connection to a WMI namespace of another computer; opaque, 0 is none.
using WmiServices = uint64_t;
inline constexpr WmiServices kNoServices = 0;

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

// Each operation of the list as a pure virtual function; the list
// (PlatformOperations.h) documents each one.
#define WF_PLATFORM_PURE_VIRTUAL(RESULT, NAME, PARAMETERS, ARGUMENTS) \
  virtual RESULT NAME PARAMETERS = 0;
#define WF_PLATFORM_PURE_VIRTUAL_NORETURN(...) [[noreturn]] WF_PLATFORM_PURE_VIRTUAL(__VA_ARGS__)

class Platform {
 public:
  virtual ~Platform() = default;

  WF_PLATFORM_OPERATIONS(WF_PLATFORM_PURE_VIRTUAL, WF_PLATFORM_PURE_VIRTUAL_NORETURN)
};

#undef WF_PLATFORM_PURE_VIRTUAL_NORETURN
#undef WF_PLATFORM_PURE_VIRTUAL

// Declares every operation as an override, in the class body of a backend,
// which then defines each of them: one left undefined fails the link.
#define WF_PLATFORM_OVERRIDES() \
  WF_PLATFORM_OPERATIONS(WF_PLATFORM_OVERRIDE, WF_PLATFORM_OVERRIDE_NORETURN)
#define WF_PLATFORM_OVERRIDE(RESULT, NAME, PARAMETERS, ARGUMENTS) RESULT NAME PARAMETERS override;
#define WF_PLATFORM_OVERRIDE_NORETURN(...) [[noreturn]] WF_PLATFORM_OVERRIDE(__VA_ARGS__)

}  // namespace wf
