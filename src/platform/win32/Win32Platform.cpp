// System information, registry, files, time and profile deletion: each
// operation is the Windows call of the same name.
#include "platform/win32/Win32Platform.h"

#include "platform/Text.h"
#include "platform/win32/RegistryHandles.h"
#include "platform/win32/Win32Api.h"

namespace wf {
namespace {

using win32::Wide;

// Only the predefined root keys change form between the interface and the
// system (see RegistryHandles.h); opened keys pass through bit for bit.
// The interface carries handles as integers by design.
HKEY ToHKey(RegKey key) {
  return reinterpret_cast<HKEY>(  // NOLINT(performance-no-int-to-ptr)
      static_cast<uintptr_t>(win32::RegKeyToSystem(key)));
}

RegKey FromHKey(HKEY key) {
  return win32::RegKeyFromSystem(static_cast<uint64_t>(reinterpret_cast<uintptr_t>(key)));
}

HANDLE ToHandle(FileHandle handle) {
  // NOLINTNEXTLINE(performance-no-int-to-ptr)
  return reinterpret_cast<HANDLE>(static_cast<intptr_t>(handle));
}
FileHandle FromHandle(HANDLE handle) {
  return static_cast<FileHandle>(reinterpret_cast<intptr_t>(handle));
}

FileTime FromFileTime(const FILETIME& time) {
  return (static_cast<FileTime>(time.dwHighDateTime) << 32) | time.dwLowDateTime;
}
FILETIME ToFileTime(FileTime time) {
  FILETIME result;
  result.dwLowDateTime = static_cast<DWORD>(time & 0xFFFFFFFFu);
  result.dwHighDateTime = static_cast<DWORD>(time >> 32);
  return result;
}

}  // namespace

Win32Platform::~Win32Platform() {
  if (consoleInput_ != nullptr) ::CloseHandle(consoleInput_);
  if (consoleOutput_ != nullptr) ::CloseHandle(consoleOutput_);
}

uint32_t Win32Platform::GetLastError() {
  return ::GetLastError();
}
void Win32Platform::SetLastError(uint32_t error) {
  ::SetLastError(error);
}

bool Win32Platform::GetComputerName(char16_t* buffer, uint32_t* size) {
  DWORD chars = *size;
  const BOOL ok = ::GetComputerNameW(Wide(buffer), &chars);
  *size = chars;
  return ok != FALSE;
}

bool Win32Platform::GetVersionEx(OsVersionInfo* info) {
  // The larger record takes either size the caller may name; the system
  // checks the size field itself.
  OSVERSIONINFOEXW version{};
  version.dwOSVersionInfoSize = info->size;
  if (!::GetVersionExW(reinterpret_cast<OSVERSIONINFOW*>(&version))) return false;
  info->majorVersion = version.dwMajorVersion;
  info->minorVersion = version.dwMinorVersion;
  info->buildNumber = version.dwBuildNumber;
  info->platformId = version.dwPlatformId;
  CopyText(info->csdVersion, sizeof info->csdVersion / sizeof info->csdVersion[0],
           reinterpret_cast<const char16_t*>(version.szCSDVersion));
  return true;
}

uint32_t Win32Platform::ExpandEnvironmentStrings(const char16_t* source, char16_t* destination,
                                                 uint32_t capacity) {
  return ::ExpandEnvironmentStringsW(Wide(source), Wide(destination), capacity);
}

int32_t Win32Platform::RegConnectRegistry(const char16_t* machineName, RegKey root,
                                          RegKey* result) {
  HKEY key = nullptr;
  const LSTATUS status = ::RegConnectRegistryW(Wide(machineName), ToHKey(root), &key);
  *result = status == ERROR_SUCCESS ? FromHKey(key) : kNoKey;
  return status;
}

int32_t Win32Platform::RegOpenKeyEx(RegKey key, const char16_t* subKey, uint32_t options,
                                    uint32_t access, RegKey* result) {
  HKEY opened = nullptr;
  const LSTATUS status = ::RegOpenKeyExW(ToHKey(key), Wide(subKey), options, access, &opened);
  *result = status == ERROR_SUCCESS ? FromHKey(opened) : kNoKey;
  return status;
}

int32_t Win32Platform::RegQueryValueEx(RegKey key, const char16_t* valueName, uint32_t* type,
                                       uint8_t* data, uint32_t* byteCount) {
  DWORD valueType = 0;
  DWORD bytes = byteCount != nullptr ? *byteCount : 0;
  const LSTATUS status = ::RegQueryValueExW(ToHKey(key), Wide(valueName), nullptr,
                                            type != nullptr ? &valueType : nullptr, data,
                                            byteCount != nullptr ? &bytes : nullptr);
  if (type != nullptr) *type = valueType;
  if (byteCount != nullptr) *byteCount = bytes;
  return status;
}

int32_t Win32Platform::RegEnumKeyEx(RegKey key, uint32_t index, char16_t* name,
                                    uint32_t* nameChars) {
  DWORD chars = *nameChars;
  const LSTATUS status =
      ::RegEnumKeyExW(ToHKey(key), index, Wide(name), &chars, nullptr, nullptr, nullptr, nullptr);
  *nameChars = chars;
  return status;
}

int32_t Win32Platform::RegDeleteKey(RegKey key, const char16_t* subKey) {
  return ::RegDeleteKeyW(ToHKey(key), Wide(subKey));
}

int32_t Win32Platform::RegCloseKey(RegKey key) {
  return ::RegCloseKey(ToHKey(key));
}

FileHandle Win32Platform::FindFirstFile(const char16_t* path, FindData* data) {
  WIN32_FIND_DATAW found;
  const HANDLE handle = ::FindFirstFileW(Wide(path), &found);
  if (handle == INVALID_HANDLE_VALUE) return kInvalidHandle;
  data->attributes = found.dwFileAttributes;
  data->creationTime = FromFileTime(found.ftCreationTime);
  data->lastAccessTime = FromFileTime(found.ftLastAccessTime);
  data->lastWriteTime = FromFileTime(found.ftLastWriteTime);
  data->fileSize = (static_cast<uint64_t>(found.nFileSizeHigh) << 32) | found.nFileSizeLow;
  CopyText(data->fileName, sizeof data->fileName / sizeof data->fileName[0],
           reinterpret_cast<const char16_t*>(found.cFileName));
  return FromHandle(handle);
}

bool Win32Platform::FindClose(FileHandle handle) {
  return ::FindClose(ToHandle(handle)) != FALSE;
}

FileHandle Win32Platform::CreateFile(const char16_t* path, uint32_t access, uint32_t shareMode,
                                     uint32_t disposition, uint32_t attributes) {
  return FromHandle(
      ::CreateFileW(Wide(path), access, shareMode, nullptr, disposition, attributes, nullptr));
}

bool Win32Platform::CloseHandle(FileHandle handle) {
  return ::CloseHandle(ToHandle(handle)) != FALSE;
}

bool Win32Platform::GetDiskFreeSpaceEx(const char16_t* path, uint64_t* availableToCaller,
                                       uint64_t* totalBytes, uint64_t* totalFreeBytes) {
  ULARGE_INTEGER available{}, total{}, totalFree{};
  if (!::GetDiskFreeSpaceExW(Wide(path), &available, &total, &totalFree)) return false;
  if (availableToCaller != nullptr) *availableToCaller = available.QuadPart;
  if (totalBytes != nullptr) *totalBytes = total.QuadPart;
  if (totalFreeBytes != nullptr) *totalFreeBytes = totalFree.QuadPart;
  return true;
}

FileTime Win32Platform::GetSystemTimeAsFileTime() {
  FILETIME now;
  ::GetSystemTimeAsFileTime(&now);
  return FromFileTime(now);
}

bool Win32Platform::FileTimeToLocalFileTime(FileTime utc, FileTime* local) {
  const FILETIME in = ToFileTime(utc);
  FILETIME out;
  if (!::FileTimeToLocalFileTime(&in, &out)) return false;
  *local = FromFileTime(out);
  return true;
}

bool Win32Platform::FileTimeToSystemTime(FileTime time, SystemTime* calendar) {
  const FILETIME in = ToFileTime(time);
  SYSTEMTIME out;
  if (!::FileTimeToSystemTime(&in, &out)) return false;
  calendar->year = out.wYear;
  calendar->month = out.wMonth;
  calendar->dayOfWeek = out.wDayOfWeek;
  calendar->day = out.wDay;
  calendar->hour = out.wHour;
  calendar->minute = out.wMinute;
  calendar->second = out.wSecond;
  calendar->milliseconds = out.wMilliseconds;
  return true;
}

bool Win32Platform::DeleteProfile(const char16_t* sid, const char16_t* profilePath,
                                  const char16_t* computerName) {
  return ::DeleteProfileW(Wide(sid), Wide(profilePath), Wide(computerName)) != FALSE;
}

}  // namespace wf
