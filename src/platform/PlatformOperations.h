// The operating-system operations the command uses, as one list. The
// interface (Platform.h), the override declarations of each backend and the
// forwarding platforms of the tests are all made from it, so an operation is
// added, changed or removed here and nowhere else in their declarations.
//
// WF_PLATFORM_OPERATIONS(X, NORETURN) expands to X(RESULT, NAME, PARAMETERS,
// ARGUMENTS) for each operation that returns, and to NORETURN with the same
// four for one that never returns, in this order:
//   RESULT      the result type
//   NAME        the operation's name: that of the Windows call it stands for
//   PARAMETERS  the parameter list, in parentheses
//   ARGUMENTS   the parameters' names as an argument list, in parentheses
//
// The types named here are those of Platform.h, which includes this file.
#pragma once

// clang-format off
#define WF_PLATFORM_OPERATIONS(X, NORETURN)                                                      \
  /* Thread last-error. */                                                                       \
  X(uint32_t, GetLastError, (), ())                                                              \
  X(void, SetLastError, (uint32_t error), (error))                                               \
                                                                                                 \
  /* System information. GetComputerName takes the capacity in *size                             \
     (terminator included) and sets it to the length on success. */                              \
  X(bool, GetComputerName, (char16_t* buffer, uint32_t* size), (buffer, size))                   \
  X(bool, GetVersionEx, (OsVersionInfo* info), (info))                                           \
  /* Returns the characters needed including the terminator (the real call's                     \
     result), or 0 on failure; output is cut as the real call cuts it. */                        \
  X(uint32_t, ExpandEnvironmentStrings,                                                          \
    (const char16_t* source, char16_t* destination, uint32_t capacity),                          \
    (source, destination, capacity))                                                             \
                                                                                                 \
  /* Registry: statuses are Win32 error numbers. */                                              \
  X(int32_t, RegConnectRegistry, (const char16_t* machineName, RegKey root, RegKey* result),     \
    (machineName, root, result))                                                                 \
  X(int32_t, RegOpenKeyEx,                                                                       \
    (RegKey key, const char16_t* subKey, uint32_t options, uint32_t access, RegKey* result),     \
    (key, subKey, options, access, result))                                                      \
  /* *byteCount holds the bytes offered and receives the bytes stored (or                        \
     needed, with ERROR_MORE_DATA). type and data may be null. */                                \
  X(int32_t, RegQueryValueEx,                                                                    \
    (RegKey key, const char16_t* valueName, uint32_t* type, uint8_t* data, uint32_t* byteCount), \
    (key, valueName, type, data, byteCount))                                                     \
  /* *nameChars holds the capacity and receives the length of the name. */                       \
  X(int32_t, RegEnumKeyEx, (RegKey key, uint32_t index, char16_t* name, uint32_t* nameChars),    \
    (key, index, name, nameChars))                                                               \
  X(int32_t, RegDeleteKey, (RegKey key, const char16_t* subKey), (key, subKey))                  \
  X(int32_t, RegCloseKey, (RegKey key), (key))                                                   \
                                                                                                 \
  /* Files. */                                                                                   \
  X(FileHandle, FindFirstFile, (const char16_t* path, FindData* data), (path, data))             \
  X(bool, FindClose, (FileHandle handle), (handle))                                              \
  X(FileHandle, CreateFile,                                                                      \
    (const char16_t* path, uint32_t access, uint32_t shareMode, uint32_t disposition,            \
     uint32_t attributes),                                                                       \
    (path, access, shareMode, disposition, attributes))                                          \
  X(bool, CloseHandle, (FileHandle handle), (handle))                                            \
  X(bool, GetDiskFreeSpaceEx,                                                                    \
    (const char16_t* path, uint64_t* availableToCaller, uint64_t* totalBytes,                    \
     uint64_t* totalFreeBytes),                                                                  \
    (path, availableToCaller, totalBytes, totalFreeBytes))                                       \
                                                                                                 \
  /* Time. */                                                                                    \
  X(FileTime, GetSystemTimeAsFileTime, (), ())                                                   \
  X(bool, FileTimeToLocalFileTime, (FileTime utc, FileTime* local), (utc, local))                \
  X(bool, FileTimeToSystemTime, (FileTime time, SystemTime* calendar), (time, calendar))         \
                                                                                                 \
  /* Profile deletion service: true on success, else the reason in last-error. */                \
  X(bool, DeleteProfile,                                                                         \
    (const char16_t* sid, const char16_t* profilePath, const char16_t* computerName),            \
    (sid, profilePath, computerName))                                                            \
                                                                                                 \
  /* Another computer's profile service over WMI: a connection to a                              \
     namespace (\\NAME\root\cimv2), the deletion of an instance by its                          \
     object path, and the connection's release. Statuses are Win32 error                         \
     numbers: the backend turns each HRESULT into one (WmiStatus.h). */                          \
  X(int32_t, ConnectServer, (const char16_t* networkResource, WmiServices* services),            \
    (networkResource, services))                                                                 \
  X(int32_t, DeleteInstance, (WmiServices services, const char16_t* objectPath),                 \
    (services, objectPath))                                                                      \
  X(void, ReleaseServices, (WmiServices services), (services))                                   \
                                                                                                 \
  /* Standard output as a byte stream, and whether it is a console. */                           \
  X(bool, StandardOutputIsConsole, (), ())                                                       \
  X(bool, WriteStandardOutput, (const char* bytes, size_t count), (bytes, count))                \
                                                                                                 \
  /* Console devices for the prompt key: CONIN$ and CONOUT$. */                                  \
  X(bool, OpenConsoleInput, (), ())                                                              \
  X(bool, GetConsoleInputMode, (uint32_t* mode), (mode))                                         \
  X(bool, SetConsoleInputMode, (uint32_t mode), (mode))                                          \
  X(bool, ReadConsoleInput, (ConsoleInputEvent* event), (event))                                 \
  X(bool, OpenConsoleOutput, (), ())                                                             \
  X(bool, WriteConsoleByte, (uint8_t byte), (byte))                                              \
                                                                                                 \
  /* The system's text for an error number, cut at capacity - 1 and always                       \
     terminated; empty when there is none. */                                                    \
  X(void, GetSystemErrorText, (uint32_t error, char16_t* buffer, uint32_t capacity),             \
    (error, buffer, capacity))                                                                   \
                                                                                                 \
  /* Fault guards. RunGuarded runs body; a fault raised inside it is shown to                    \
     filter, which answers kExceptionExecuteHandler (the fault ends here and                     \
     RunGuarded returns false) or kExceptionContinueSearch (the fault passes                     \
     on to the next outer guard). Returns true when body completed. */                           \
  X(bool, RunGuarded,                                                                            \
    (GuardBody body, void* bodyContext, GuardFilter filter, void* filterContext),                \
    (body, bodyContext, filter, filterContext))                                                  \
  /* Runs body, then closing; closing also runs when a fault passes out of                       \
     body, and the fault then goes on outwards. */                                               \
  X(void, RunWithClosing,                                                                        \
    (GuardBody body, void* bodyContext, GuardBody closing, void* closingContext),                \
    (body, bodyContext, closing, closingContext))                                                \
  /* Raises a fault with the given code (no late-binding record). */                             \
  NORETURN(void, RaiseFault, (uint32_t code), (code))
// clang-format on
