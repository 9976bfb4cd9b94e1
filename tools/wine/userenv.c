/*
 * Test-only stand-in for the profile deletion service under Wine, whose own
 * DeleteProfileW is an unimplemented stub. Placed next to the command and
 * loaded with WINEDLLOVERRIDES=userenv=n,b, it does what the service does
 * for a local profile: it removes the profile folder and the profile's
 * ProfileList subkey.
 *
 * WRENFOLD_TEST_DELETE_FAIL ("SID=STATUS;SID=STATUS") names profiles for
 * which the service fails with the given status and changes nothing.
 */
#include <wchar.h>
#include <windows.h>

#define PROFILE_LIST L"SOFTWARE\\Microsoft\\Windows NT\\CurrentVersion\\ProfileList"

/* The status configured for SID, or 0. */
static DWORD ConfiguredFailure(LPCWSTR sid) {
  static wchar_t list[4096];
  DWORD chars = GetEnvironmentVariableW(L"WRENFOLD_TEST_DELETE_FAIL", list, 4096);
  if (chars == 0 || chars >= 4096) return 0;
  size_t sidLength = wcslen(sid);
  for (wchar_t* entry = list; *entry != 0;) {
    wchar_t* end = wcschr(entry, L';');
    if (end == NULL) end = entry + wcslen(entry);
    wchar_t* equals = wcschr(entry, L'=');
    if (equals != NULL && equals < end && (size_t)(equals - entry) == sidLength &&
        _wcsnicmp(entry, sid, sidLength) == 0) {
      return (DWORD)wcstoul(equals + 1, NULL, 10);
    }
    entry = *end == 0 ? end : end + 1;
  }
  return 0;
}

/* Removes the folder PATH (without a trailing backslash) and everything in
   it. Returns 0 or the first failure. */
static DWORD RemoveTree(const wchar_t* path) {
  wchar_t pattern[MAX_PATH + 4];
  if (wcslen(path) + 3 > MAX_PATH) return ERROR_FILENAME_EXCED_RANGE;
  wcscpy(pattern, path);
  wcscat(pattern, L"\\*");
  WIN32_FIND_DATAW entry;
  HANDLE search = FindFirstFileW(pattern, &entry);
  if (search != INVALID_HANDLE_VALUE) {
    do {
      if (wcscmp(entry.cFileName, L".") == 0 || wcscmp(entry.cFileName, L"..") == 0) continue;
      wchar_t child[MAX_PATH + 4];
      if (wcslen(path) + 1 + wcslen(entry.cFileName) >= MAX_PATH) {
        FindClose(search);
        return ERROR_FILENAME_EXCED_RANGE;
      }
      wcscpy(child, path);
      wcscat(child, L"\\");
      wcscat(child, entry.cFileName);
      DWORD status = 0;
      if (entry.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) {
        status = RemoveTree(child);
      } else {
        SetFileAttributesW(child, FILE_ATTRIBUTE_NORMAL);
        if (!DeleteFileW(child)) status = GetLastError();
      }
      if (status != 0) {
        FindClose(search);
        return status;
      }
    } while (FindNextFileW(search, &entry));
    FindClose(search);
  }
  SetFileAttributesW(path, FILE_ATTRIBUTE_NORMAL);
  if (!RemoveDirectoryW(path)) return GetLastError();
  return 0;
}

__declspec(dllexport) BOOL WINAPI
    DeleteProfileW(LPCWSTR sid, LPCWSTR profilePath, LPCWSTR computerName) {
  (void)computerName;
  if (sid == NULL || *sid == 0) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return FALSE;
  }
  DWORD failure = ConfiguredFailure(sid);
  if (failure != 0) {
    SetLastError(failure);
    return FALSE;
  }
  wchar_t keyPath[512];
  if (wcslen(PROFILE_LIST) + 1 + wcslen(sid) >= 512) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return FALSE;
  }
  wcscpy(keyPath, PROFILE_LIST L"\\");
  wcscat(keyPath, sid);
  HKEY key = NULL;
  LSTATUS status = RegOpenKeyExW(HKEY_LOCAL_MACHINE, keyPath, 0, KEY_READ, &key);
  if (status != ERROR_SUCCESS) {
    SetLastError((DWORD)status);
    return FALSE;
  }
  /* Without a path the profile's own ProfileImagePath names the folder. */
  wchar_t folder[MAX_PATH + 1] = L"";
  if (profilePath != NULL && *profilePath != 0) {
    if (wcslen(profilePath) > MAX_PATH) {
      RegCloseKey(key);
      SetLastError(ERROR_FILENAME_EXCED_RANGE);
      return FALSE;
    }
    wcscpy(folder, profilePath);
  } else {
    wchar_t stored[MAX_PATH + 1] = L"";
    DWORD bytes = sizeof stored - sizeof(wchar_t);
    status = RegQueryValueExW(key, L"ProfileImagePath", NULL, NULL, (BYTE*)stored, &bytes);
    if (status == ERROR_SUCCESS) ExpandEnvironmentStringsW(stored, folder, MAX_PATH + 1);
  }
  RegCloseKey(key);
  size_t length = wcslen(folder);
  while (length > 3 && folder[length - 1] == L'\\') folder[--length] = 0;
  if (length > 0 && GetFileAttributesW(folder) != INVALID_FILE_ATTRIBUTES) {
    DWORD removed = RemoveTree(folder);
    if (removed != 0) {
      SetLastError(removed);
      return FALSE;
    }
  }
  status = RegDeleteTreeW(HKEY_LOCAL_MACHINE, keyPath);
  if (status != ERROR_SUCCESS) {
    SetLastError((DWORD)status);
    return FALSE;
  }
  return TRUE;
}
