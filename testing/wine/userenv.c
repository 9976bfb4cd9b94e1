/*
 * Test-only stand-in for the profile deletion service under Wine, whose own
 * DeleteProfileW is an unimplemented stub. Placed next to the command and
 * loaded with WINEDLLOVERRIDES=userenv=n,b, it does what the service does
 * for a local profile: it removes the profile folder and the profile's
 * ProfileList subkey.
 *
 * WRENFOLD_TEST_DELETE_FAIL ("SID=STATUS;SID=STATUS") names profiles for
 * which the service fails with the given status and changes nothing. As
 * since Windows Vista, a deletion on another computer (a computer name
 * given) is refused with 87.
 *
 * It also stands in for the network, which Wine does not have:
 *
 * - WRENFOLD_TEST_REMOTES ("NAME=STATUS;NAME=STATUS@FROM") names the remote
 *   computers of the scenario. The program's RegConnectRegistryW to one of
 *   them answers with a key of its own registry, which lives under
 *   HKLM\SOFTWARE\WrenfoldRemotes\NAME; a non-zero STATUS is the answer
 *   instead (from the FROMth connection on, when given). Any other name
 *   goes to Wine's own call.
 * - Their administrative shares are folders that Wine finds through the
 *   prefix's dosdevices/unc. WRENFOLD_TEST_SHARES ("NAME\D$=STATUS;...")
 *   names shares that are not up: the program's file calls under them fail
 *   with STATUS (Wine itself would answer 3 for a share that is absent,
 *   where Windows answers 53).
 *
 * Loaded at process start, it also watches the program for the scenario
 * runner. When WRENFOLD_TEST_LOG names a file, it appends one line per
 * event, texts written as "x" and their UTF-16LE bytes in hex ("-" for a
 * null pointer):
 *
 *   attach                          the program started
 *   DeleteProfile SID PATH COMPUTER a call of DeleteProfileW
 *   RegDeleteKey SUBKEY             a call of RegDeleteKeyW by the program
 *   console-mode MODE               the program set its input console mode
 *                                   (0: a key read is about to wait)
 *   open KIND NAME                  at exit: a handle still open (KIND is
 *                                   key, file or search)
 *   untracked N                     at exit: N handles were opened while
 *                                   the table was full
 *   detach                          the program ended normally
 *
 * The program's own calls are seen by patching its import address table as
 * this library attaches (the imports are bound by then). Console handles
 * (CONIN$, CONOUT$) and the predefined registry keys are not counted.
 */
#include <string.h>
#include <wchar.h>
#include <windows.h>

#include "standin_shared.h"

#define PROFILE_LIST L"SOFTWARE\\Microsoft\\Windows NT\\CurrentVersion\\ProfileList"

/* --- The runner's log ----------------------------------------------------- */

static HANDLE logFile = INVALID_HANDLE_VALUE;

static void PutNumber(struct Line* line, unsigned long number) {
  char digits[24];
  int count = 0;
  do {
    digits[count++] = (char)('0' + number % 10);
    number /= 10;
  } while (number != 0 && count < 24);
  char text[2] = {0, 0};
  Put(line, " ");
  while (count > 0) {
    text[0] = digits[--count];
    Put(line, text);
  }
}

static void Emit(struct Line* line) {
  if (logFile == INVALID_HANDLE_VALUE) return;
  WriteLine(logFile, line);
}

static void Log3(const char* label, const wchar_t* a, const wchar_t* b, const wchar_t* c) {
  struct Line line = {.length = 0};
  Put(&line, label);
  PutText(&line, a);
  PutText(&line, b);
  PutText(&line, c);
  Emit(&line);
}

static void OpenLog(void) {
  wchar_t path[MAX_PATH + 1];
  DWORD chars = GetEnvironmentVariableW(L"WRENFOLD_TEST_LOG", path, MAX_PATH + 1);
  if (chars == 0 || chars > MAX_PATH) return;
  logFile = CreateFileW(path, FILE_APPEND_DATA, FILE_SHARE_READ | FILE_SHARE_WRITE, NULL,
                        OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, NULL);
  struct Line line = {.length = 0};
  Put(&line, "attach");
  Emit(&line);
}

/* --- Handles the program holds ------------------------------------------- */

enum Kind { KIND_KEY, KIND_FILE, KIND_SEARCH };
static const char* const kindNames[] = {"key", "file", "search"};

#define MAX_TRACKED 256

static struct {
  ULONG_PTR handle;
  enum Kind kind;
  wchar_t name[200];
} tracked[MAX_TRACKED];
static int trackedCount;
static int untracked;

static void Track(ULONG_PTR handle, enum Kind kind, const wchar_t* name) {
  if (trackedCount == MAX_TRACKED) {
    ++untracked;
    return;
  }
  tracked[trackedCount].handle = handle;
  tracked[trackedCount].kind = kind;
  size_t length = 0;
  for (; name != NULL && name[length] != 0 && length + 1 < 200; ++length) {
    tracked[trackedCount].name[length] = name[length];
  }
  tracked[trackedCount].name[length] = 0;
  ++trackedCount;
}

static void Untrack(ULONG_PTR handle, enum Kind kind) {
  for (int i = 0; i < trackedCount; ++i) {
    if (tracked[i].handle == handle && tracked[i].kind == kind) {
      tracked[i] = tracked[--trackedCount];
      return;
    }
  }
}

static BOOL IsPredefinedKey(HKEY key) {
  const ULONG_PTR value = (ULONG_PTR)key;
  return value >= (ULONG_PTR)HKEY_CLASSES_ROOT && value <= (ULONG_PTR)HKEY_CLASSES_ROOT + 0xFF;
}

static BOOL EndsWithNoCase(const wchar_t* text, const wchar_t* end) {
  const size_t length = wcslen(text);
  const size_t endLength = wcslen(end);
  return length >= endLength && _wcsicmp(text + length - endLength, end) == 0;
}

static void ReportOpenHandles(void) {
  for (int i = 0; i < trackedCount; ++i) {
    struct Line line = {.length = 0};
    Put(&line, "open ");
    Put(&line, kindNames[tracked[i].kind]);
    PutText(&line, tracked[i].name);
    Emit(&line);
  }
  if (untracked != 0) {
    struct Line line = {.length = 0};
    Put(&line, "untracked");
    PutNumber(&line, (unsigned long)untracked);
    Emit(&line);
  }
}

/* --- The program's imports, wrapped ---------------------------------------- */

static LSTATUS WINAPI WrapRegOpenKeyExW(HKEY key, LPCWSTR subKey, DWORD options, REGSAM access,
                                        PHKEY result) {
  const LSTATUS status = RegOpenKeyExW(key, subKey, options, access, result);
  if (status == ERROR_SUCCESS && !IsPredefinedKey(*result)) {
    Track((ULONG_PTR)*result, KIND_KEY, subKey);
  }
  return status;
}

/* --- The scenario's lists and the network ------------------------------------ */

/* The entry of LIST ("NAME=STATUS[@FROM];...", from the variable VARIABLE)
   whose NAME is the first LENGTH characters of NAME, in any case: its
   status and first connection. False when there is none. */
static BOOL FindEntry(const wchar_t* variable, const wchar_t* name, size_t length, DWORD* status,
                      DWORD* from) {
  static wchar_t list[4096];
  DWORD chars = GetEnvironmentVariableW(variable, list, 4096);
  if (chars == 0 || chars >= 4096) return FALSE;
  for (wchar_t* entry = list; *entry != 0;) {
    wchar_t* end = wcschr(entry, L';');
    if (end == NULL) end = entry + wcslen(entry);
    wchar_t* equals = wcschr(entry, L'=');
    if (equals != NULL && equals < end && (size_t)(equals - entry) == length &&
        _wcsnicmp(entry, name, length) == 0) {
      wchar_t* rest = NULL;
      *status = (DWORD)wcstoul(equals + 1, &rest, 10);
      *from = rest != NULL && *rest == L'@' ? (DWORD)wcstoul(rest + 1, NULL, 10) : 1;
      return TRUE;
    }
    entry = *end == 0 ? end : end + 1;
  }
  return FALSE;
}

#define MAX_REMOTES 32
static struct {
  wchar_t name[64];
  DWORD connections;
} remotes[MAX_REMOTES];

/* How many connections to NAME this one is (1 for the first). */
static DWORD CountConnection(const wchar_t* name) {
  int i = 0;
  for (; i < MAX_REMOTES && remotes[i].name[0] != 0; ++i) {
    if (_wcsicmp(remotes[i].name, name) == 0) return ++remotes[i].connections;
  }
  if (i == MAX_REMOTES || wcslen(name) >= 64) return 1;
  wcscpy(remotes[i].name, name);
  return remotes[i].connections = 1;
}

static LSTATUS WINAPI WrapRegConnectRegistryW(LPCWSTR machine, HKEY key, PHKEY result) {
  const wchar_t* name = machine == NULL ? L"" : machine;
  if (name[0] == L'\\' && name[1] == L'\\') name += 2;
  DWORD answer = 0;
  DWORD from = 1;
  LSTATUS status = ERROR_SUCCESS;
  /* Other names reach Wine's own call: the running computer's name connects
     to its registry, and any other is a computer that cannot be reached
     (53), as Windows answers. */
  if (*name == 0 || key != HKEY_LOCAL_MACHINE || result == NULL || wcslen(name) >= 64 ||
      !FindEntry(L"WRENFOLD_TEST_REMOTES", name, wcslen(name), &answer, &from)) {
    status = RegConnectRegistryW(machine, key, result);
  } else {
    if (CountConnection(name) >= from && answer != 0) return (LSTATUS)answer;
    wchar_t path[128] = L"SOFTWARE\\WrenfoldRemotes\\";
    wcscat(path, name);
    status = RegOpenKeyExW(HKEY_LOCAL_MACHINE, path, 0, MAXIMUM_ALLOWED, result);
  }
  if (status == ERROR_SUCCESS && !IsPredefinedKey(*result)) {
    Track((ULONG_PTR)*result, KIND_KEY, machine == NULL ? L"(connection)" : machine);
  }
  return status;
}

/* The status of the share that PATH (\\NAME\SHARE\...) lies under, when
   it is not up; 0 otherwise. */
static DWORD ShareRefusal(const wchar_t* path) {
  if (path == NULL || path[0] != L'\\' || path[1] != L'\\') return 0;
  const wchar_t* separator = wcschr(path + 2, L'\\');
  if (separator == NULL) return 0;
  const wchar_t* end = wcschr(separator + 1, L'\\');
  const size_t length = end == NULL ? wcslen(path + 2) : (size_t)(end - (path + 2));
  DWORD status = 0;
  DWORD from = 1;
  return FindEntry(L"WRENFOLD_TEST_SHARES", path + 2, length, &status, &from) ? status : 0;
}

static BOOL WINAPI WrapGetDiskFreeSpaceExW(LPCWSTR path, PULARGE_INTEGER available,
                                           PULARGE_INTEGER total, PULARGE_INTEGER totalFree) {
  const DWORD refusal = ShareRefusal(path);
  if (refusal != 0) {
    SetLastError(refusal);
    return FALSE;
  }
  return GetDiskFreeSpaceExW(path, available, total, totalFree);
}

static LSTATUS WINAPI WrapRegCloseKey(HKEY key) {
  const LSTATUS status = RegCloseKey(key);
  if (status == ERROR_SUCCESS) Untrack((ULONG_PTR)key, KIND_KEY);
  return status;
}

static LSTATUS WINAPI WrapRegDeleteKeyW(HKEY key, LPCWSTR subKey) {
  Log3("RegDeleteKey", subKey, NULL, NULL);
  return RegDeleteKeyW(key, subKey);
}

static HANDLE WINAPI WrapCreateFileW(LPCWSTR name, DWORD access, DWORD share,
                                     LPSECURITY_ATTRIBUTES security, DWORD disposition, DWORD flags,
                                     HANDLE templateFile) {
  const DWORD refusal = ShareRefusal(name);
  if (refusal != 0) {
    SetLastError(refusal);
    return INVALID_HANDLE_VALUE;
  }
  const HANDLE file = CreateFileW(name, access, share, security, disposition, flags, templateFile);
  if (file != INVALID_HANDLE_VALUE && name != NULL && !EndsWithNoCase(name, L"CONIN$") &&
      !EndsWithNoCase(name, L"CONOUT$")) {
    Track((ULONG_PTR)file, KIND_FILE, name);
  }
  return file;
}

static BOOL WINAPI WrapCloseHandle(HANDLE handle) {
  const BOOL closed = CloseHandle(handle);
  if (closed) Untrack((ULONG_PTR)handle, KIND_FILE);
  return closed;
}

static HANDLE WINAPI WrapFindFirstFileW(LPCWSTR pattern, LPWIN32_FIND_DATAW found) {
  const DWORD refusal = ShareRefusal(pattern);
  if (refusal != 0) {
    SetLastError(refusal);
    return INVALID_HANDLE_VALUE;
  }
  const HANDLE search = FindFirstFileW(pattern, found);
  if (search != INVALID_HANDLE_VALUE) Track((ULONG_PTR)search, KIND_SEARCH, pattern);
  return search;
}

static BOOL WINAPI WrapFindClose(HANDLE search) {
  const BOOL closed = FindClose(search);
  if (closed) Untrack((ULONG_PTR)search, KIND_SEARCH);
  return closed;
}

static BOOL WINAPI WrapSetConsoleMode(HANDLE console, DWORD mode) {
  const BOOL set = SetConsoleMode(console, mode);
  struct Line line = {.length = 0};
  Put(&line, "console-mode");
  PutNumber(&line, mode);
  if (set) Emit(&line);
  return set;
}

typedef void (*AnyFunction)(void);

static const struct {
  const char* name;
  AnyFunction replacement; /* the one type GCC lets any function take */
} wrappers[] = {
    {"RegOpenKeyExW", (AnyFunction)WrapRegOpenKeyExW},
    {"RegConnectRegistryW", (AnyFunction)WrapRegConnectRegistryW},
    {"RegCloseKey", (AnyFunction)WrapRegCloseKey},
    {"RegDeleteKeyW", (AnyFunction)WrapRegDeleteKeyW},
    {"CreateFileW", (AnyFunction)WrapCreateFileW},
    {"CloseHandle", (AnyFunction)WrapCloseHandle},
    {"FindFirstFileW", (AnyFunction)WrapFindFirstFileW},
    {"FindClose", (AnyFunction)WrapFindClose},
    {"GetDiskFreeSpaceExW", (AnyFunction)WrapGetDiskFreeSpaceExW},
    {"SetConsoleMode", (AnyFunction)WrapSetConsoleMode},
};

/* Points the program's import slots of the wrapped functions at the
   wrappers. Only the main program is patched: calls made by system
   libraries (and by this library) reach the real functions. */
static void WrapImports(void) {
  BYTE* base = (BYTE*)GetModuleHandleW(NULL);
  const IMAGE_NT_HEADERS* headers =
      (const IMAGE_NT_HEADERS*)(base + ((const IMAGE_DOS_HEADER*)base)->e_lfanew);
  const IMAGE_DATA_DIRECTORY* directory =
      &headers->OptionalHeader.DataDirectory[IMAGE_DIRECTORY_ENTRY_IMPORT];
  if (directory->VirtualAddress == 0) return;
  for (const IMAGE_IMPORT_DESCRIPTOR* module =
           (const IMAGE_IMPORT_DESCRIPTOR*)(base + directory->VirtualAddress);
       module->Name != 0; ++module) {
    if (module->OriginalFirstThunk == 0) continue; /* no names to match */
    const IMAGE_THUNK_DATA* names = (const IMAGE_THUNK_DATA*)(base + module->OriginalFirstThunk);
    IMAGE_THUNK_DATA* slots = (IMAGE_THUNK_DATA*)(base + module->FirstThunk);
    for (; names->u1.AddressOfData != 0; ++names, ++slots) {
      if (IMAGE_SNAP_BY_ORDINAL(names->u1.Ordinal)) continue;
      const IMAGE_IMPORT_BY_NAME* import =
          (const IMAGE_IMPORT_BY_NAME*)(base + names->u1.AddressOfData);
      for (size_t i = 0; i < sizeof wrappers / sizeof wrappers[0]; ++i) {
        if (strcmp((const char*)import->Name, wrappers[i].name) != 0) continue;
        DWORD protection = 0;
        if (VirtualProtect(&slots->u1.Function, sizeof slots->u1.Function, PAGE_READWRITE,
                           &protection)) {
          slots->u1.Function = (ULONG_PTR)wrappers[i].replacement;
          VirtualProtect(&slots->u1.Function, sizeof slots->u1.Function, protection, &protection);
        }
      }
    }
  }
}

BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason, LPVOID reserved) {
  (void)instance;
  (void)reserved;
  if (reason == DLL_PROCESS_ATTACH) {
    OpenLog();
    if (logFile != INVALID_HANDLE_VALUE) WrapImports();
  } else if (reason == DLL_PROCESS_DETACH && logFile != INVALID_HANDLE_VALUE) {
    ReportOpenHandles();
    struct Line line = {.length = 0};
    Put(&line, "detach");
    Emit(&line);
    CloseHandle(logFile);
    logFile = INVALID_HANDLE_VALUE;
  }
  return TRUE;
}

/* --- The deletion service ---------------------------------------------------- */

/* The status configured for SID, or 0. */
static DWORD ConfiguredFailure(LPCWSTR sid) {
  DWORD status = 0;
  DWORD from = 1;
  return FindEntry(L"WRENFOLD_TEST_DELETE_FAIL", sid, wcslen(sid), &status, &from) ? status : 0;
}

__declspec(dllexport) BOOL WINAPI
    DeleteProfileW(LPCWSTR sid, LPCWSTR profilePath, LPCWSTR computerName) {
  Log3("DeleteProfile", sid, profilePath, computerName);
  if (sid == NULL || *sid == 0 || (computerName != NULL && *computerName != 0)) {
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
