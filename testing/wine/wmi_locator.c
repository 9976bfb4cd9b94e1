/*
 * Test-only stand-in for WMI on remote computers under Wine, whose own WMI
 * answers 0x80041015 (WBEM_E_TRANSPORT_FAILURE) for any remote computer and
 * has no Win32_UserProfile class. Registered in the prefix as the in-process
 * server of CLSID_WbemLocator (InprocServer32 = the full path of this
 * library, ThreadingModel Both), it does what a remote computer's WMI does
 * when the command deletes a profile there: IWbemLocator::ConnectServer to
 * \\NAME\root\cimv2, then IWbemServices::DeleteInstance of
 * Win32_UserProfile.SID="SID", which removes the profile folder and the
 * profile's ProfileList subkey on that computer.
 *
 * The staged remote computers:
 *
 * - WRENFOLD_TEST_WMI ("NAME=HEX;NAME=HEX", HEX an HRESULT in hexadecimal
 *   without 0x) names the computers whose WMI can be reached: with 0 the
 *   connection succeeds, with another HRESULT it fails with it. Any other
 *   name fails with WBEM_E_TRANSPORT_FAILURE, as Wine's own WMI answers.
 * - WRENFOLD_TEST_WMI_DELETE ("NAME\SID=HEX;...") gives the answer of a
 *   computer's service for one profile: the HRESULT, with nothing changed,
 *   or, for the word keep, success with nothing changed (a service that
 *   says it deleted the profile but did not).
 *   A value in either list that is not hexadecimal (or keep) makes the call
 *   fail with WBEM_E_FAILED, as does a list too long to read.
 * - A computer's registry lives under HKLM\SOFTWARE\WrenfoldRemotes\NAME,
 *   its drives are folders that Wine finds as \\NAME\D$ through the
 *   prefix's dosdevices/unc. A profile's ProfileImagePath is expanded with
 *   that computer's own SystemRoot (its CurrentVersion value SystemRoot,
 *   C:\Windows when that is not staged), which %windir% names too, and
 *   SystemDrive (the drive of SystemRoot); other variables stay as written,
 *   and a folder that is then not on a drive (D:\...) is refused with
 *   HRESULT_FROM_WIN32(ERROR_BAD_PATHNAME).
 *
 * As a remote computer's service does, and more strictly where Windows
 * leaves room, it refuses:
 *
 * - a connection without WBEM_FLAG_CONNECT_USE_MAX_WAIT, with
 *   WBEM_E_INVALID_PARAMETER: the command must bound its wait;
 * - a deletion through a services object whose proxy blanket was not set
 *   (IClientSecurity, which this object implements as a DCOM proxy does, so
 *   that CoSetProxyBlanket reaches it) to at least packet integrity and
 *   impersonation, with WBEM_E_ACCESS_DENIED: Windows servers refuse lower
 *   levels since the DCOM hardening, and the command is expected to set
 *   its blanket rather than rely on the process defaults;
 * - a loaded profile (a file of its folder that cannot be opened
 *   exclusively) with HRESULT_FROM_WIN32(ERROR_SHARING_VIOLATION), with
 *   nothing changed. Windows does not document what the deletion of a
 *   loaded profile answers; this stand-in and the simulation answer
 *   0x80070020.
 *
 * DeleteInstance takes only Win32_UserProfile.SID="SID" (class and key
 * name in any case, nothing after the closing quote) and answers
 * WBEM_E_INVALID_CLASS for a path of another class,
 * WBEM_E_INVALID_OBJECT_PATH for any other path, WBEM_E_NOT_FOUND for a SID
 * without a ProfileList subkey and for a subkey whose name is not a SID
 * (S-1-5-21-...-1001.bak is no Win32_UserProfile instance), and
 * HRESULT_FROM_WIN32 of the Win32 error of a removal that fails. A
 * ProfileImagePath that is missing or not text names no folder: only the
 * subkey goes. Texts longer than this library's buffers are refused with
 * WBEM_E_INVALID_PARAMETER, not cut.
 *
 * When WRENFOLD_TEST_LOG names a file, it appends one line per event, in
 * the format of the stand-in userenv.dll, which writes to the same file:
 * texts are written as "x" and their UTF-16LE bytes in hex ("-" for a null
 * pointer). Each line is one WriteFile on a handle opened for the event,
 * made under a named mutex (see standin_shared.h).
 *
 *   ConnectServer RESOURCE              a call of IWbemLocator::ConnectServer
 *   DeleteInstance RESOURCE PATH        a call of IWbemServices::DeleteInstance
 *                                       (RESOURCE: that of the connection)
 *   open wmi WHAT                       as this library is unloaded or the
 *                                       process ends: an object still alive
 *                                       ("IClassFactory", "IWbemLocator",
 *                                       "IWbemServices RESOURCE") or a lock
 *                                       still held ("LockServer")
 */
#define COBJMACROS
#define CINTERFACE
#include <objbase.h>
#include <stddef.h>
#include <string.h>
#include <wbemcli.h>
#include <wchar.h>
#include <windows.h>

#include "standin_shared.h"

#define PROFILE_LIST L"SOFTWARE\\Microsoft\\Windows NT\\CurrentVersion\\ProfileList"
#define REMOTES L"SOFTWARE\\WrenfoldRemotes\\"
#define NAMESPACE L"root\\cimv2"
#define PROFILE_CLASS L"Win32_UserProfile"

/* The longest texts taken, in characters: longer ones are refused with
   WBEM_E_INVALID_PARAMETER. */
#define MAX_COMPUTER 255
#define MAX_RESOURCE 300
#define MAX_OBJECT_PATH 300

/* The length of TEXT when it has at most LIMIT characters; LIMIT + 1
   otherwise. */
static size_t BoundedLength(const wchar_t* text, size_t limit) {
  size_t length = 0;
  while (length <= limit && text[length] != 0) ++length;
  return length;
}

/* --- The runner's log ----------------------------------------------------- */

/* Appends the line to the log in one write. The file is opened for each line
   with the access and sharing of userenv.dll's handle to it. */
static void Emit(struct Line* line) {
  wchar_t path[MAX_PATH + 1];
  const DWORD chars = GetEnvironmentVariableW(L"WRENFOLD_TEST_LOG", path, MAX_PATH + 1);
  if (chars == 0 || chars > MAX_PATH) return;
  const DWORD error = GetLastError();
  const HANDLE file = CreateFileW(path, FILE_APPEND_DATA, FILE_SHARE_READ | FILE_SHARE_WRITE, NULL,
                                  OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, NULL);
  if (file != INVALID_HANDLE_VALUE) {
    WriteLine(file, line);
    CloseHandle(file);
  }
  SetLastError(error);
}

static void Log1(const char* label, const wchar_t* a) {
  struct Line line = {.length = 0};
  Put(&line, label);
  PutText(&line, a);
  Emit(&line);
}

static void Log2(const char* label, const wchar_t* a, const wchar_t* b) {
  struct Line line = {.length = 0};
  Put(&line, label);
  PutText(&line, a);
  PutText(&line, b);
  Emit(&line);
}

/* --- The objects alive ------------------------------------------------------ */

/* Every object of this library is on one list from its creation to its last
   Release, so that those still alive can be reported as the library goes. */
struct Tracked {
  struct Tracked* previous;
  struct Tracked* next;
  const wchar_t* kind;     /* the interface it was made for */
  const wchar_t* resource; /* the connection of a services object, or NULL */
};

static CRITICAL_SECTION trackedLock;
static struct Tracked trackedObjects = {&trackedObjects, &trackedObjects, NULL, NULL};
static LONG objectsAlive;
static LONG serverLocks;

static void Track(struct Tracked* object, const wchar_t* kind, const wchar_t* resource) {
  object->kind = kind;
  object->resource = resource;
  EnterCriticalSection(&trackedLock);
  object->next = &trackedObjects;
  object->previous = trackedObjects.previous;
  trackedObjects.previous->next = object;
  trackedObjects.previous = object;
  LeaveCriticalSection(&trackedLock);
  InterlockedIncrement(&objectsAlive);
}

static void Untrack(struct Tracked* object) {
  EnterCriticalSection(&trackedLock);
  object->previous->next = object->next;
  object->next->previous = object->previous;
  LeaveCriticalSection(&trackedLock);
  InterlockedDecrement(&objectsAlive);
}

/* Reports the objects and locks still alive. Not locked: at process exit
   the other threads are gone, and one may have died holding the lock. */
static void ReportOpenObjects(void) {
  for (const struct Tracked* object = trackedObjects.next; object != &trackedObjects;
       object = object->next) {
    wchar_t what[MAX_RESOURCE + 32];
    wcscpy(what, object->kind);
    if (object->resource != NULL) {
      wcscat(what, L" ");
      wcscat(what, object->resource); /* at most MAX_RESOURCE characters */
    }
    Log1("open wmi", what);
  }
  for (LONG i = 0; i < serverLocks; ++i) Log1("open wmi", L"LockServer");
}

static void* NewObject(size_t size) {
  return HeapAlloc(GetProcessHeap(), HEAP_ZERO_MEMORY, size);
}

static void FreeObject(void* object) {
  HeapFree(GetProcessHeap(), 0, object);
}

/* --- The scenario's lists --------------------------------------------------- */

enum ListAnswer { LIST_ABSENT, LIST_FOUND, LIST_UNREADABLE };

/* The value of the entry of the list in VARIABLE ("NAME=VALUE;...") whose
   NAME is NAME in any case, copied to value (VALUE_CHARS characters with
   the terminator). */
#define VALUE_CHARS 16
#define LIST_CHARS 4096
static enum ListAnswer FindEntry(const wchar_t* variable, const wchar_t* name,
                                 wchar_t value[VALUE_CHARS]) {
  wchar_t list[LIST_CHARS];
  const DWORD chars = GetEnvironmentVariableW(variable, list, LIST_CHARS);
  if (chars == 0) return LIST_ABSENT;
  if (chars >= LIST_CHARS) return LIST_UNREADABLE;
  const size_t length = wcslen(name);
  for (const wchar_t* entry = list; *entry != 0;) {
    const wchar_t* end = wcschr(entry, L';');
    if (end == NULL) end = entry + wcslen(entry);
    const wchar_t* equals = wcschr(entry, L'=');
    if (equals != NULL && equals < end && (size_t)(equals - entry) == length &&
        _wcsnicmp(entry, name, length) == 0) {
      const size_t valueLength = (size_t)(end - (equals + 1));
      if (valueLength >= VALUE_CHARS) return LIST_UNREADABLE;
      wmemcpy(value, equals + 1, valueLength);
      value[valueLength] = 0;
      return LIST_FOUND;
    }
    entry = *end == 0 ? end : end + 1;
  }
  return LIST_ABSENT;
}

/* Reads TEXT (one to eight hexadecimal digits) into result. */
static BOOL ReadHresult(const wchar_t* text, HRESULT* result) {
  unsigned long value = 0;
  size_t digits = 0;
  for (; text[digits] != 0; ++digits) {
    const wchar_t c = text[digits];
    unsigned digit = 0;
    if (c >= L'0' && c <= L'9') {
      digit = (unsigned)(c - L'0');
    } else if (c >= L'a' && c <= L'f') {
      digit = (unsigned)(c - L'a' + 10);
    } else if (c >= L'A' && c <= L'F') {
      digit = (unsigned)(c - L'A' + 10);
    } else {
      return FALSE;
    }
    if (digits == 8) return FALSE;
    value = value * 16 + digit;
  }
  if (digits == 0) return FALSE;
  *result = (HRESULT)value;
  return TRUE;
}

/* --- Profile folders -------------------------------------------------------- */

/* Looks through the folder PATH (without a trailing backslash) for a file
   that another process holds open, as the hive of a loaded profile is: one
   that cannot be opened for deletion without sharing. Returns
   ERROR_SHARING_VIOLATION for the first, ERROR_FILENAME_EXCED_RANGE for a
   path that RemoveTree would refuse, 0 otherwise; other failures are left
   for the removal to meet. */
static DWORD FindHeldFile(const wchar_t* path) {
  wchar_t pattern[MAX_PATH + 4];
  if (wcslen(path) + 3 > MAX_PATH) return ERROR_FILENAME_EXCED_RANGE;
  wcscpy(pattern, path);
  wcscat(pattern, L"\\*");
  WIN32_FIND_DATAW entry;
  HANDLE search = FindFirstFileW(pattern, &entry);
  if (search == INVALID_HANDLE_VALUE) return 0;
  DWORD status = 0;
  do {
    if (wcscmp(entry.cFileName, L".") == 0 || wcscmp(entry.cFileName, L"..") == 0) continue;
    wchar_t child[MAX_PATH + 4];
    if (wcslen(path) + 1 + wcslen(entry.cFileName) >= MAX_PATH) {
      status = ERROR_FILENAME_EXCED_RANGE;
      break;
    }
    wcscpy(child, path);
    wcscat(child, L"\\");
    wcscat(child, entry.cFileName);
    if (entry.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) {
      status = FindHeldFile(child);
    } else {
      const HANDLE file = CreateFileW(child, DELETE | GENERIC_READ, 0, NULL, OPEN_EXISTING,
                                      FILE_ATTRIBUTE_NORMAL, NULL);
      if (file != INVALID_HANDLE_VALUE) {
        CloseHandle(file);
      } else if (GetLastError() == ERROR_SHARING_VIOLATION) {
        status = ERROR_SHARING_VIOLATION;
      }
    }
  } while (status == 0 && FindNextFileW(search, &entry));
  FindClose(search);
  return status;
}

/* --- A remote computer's profiles ------------------------------------------- */

/* Whether TEXT is a SID in its string form: S-1-AUTHORITY-SUB..., with one to
   fifteen subauthorities, each number of one to ten decimal digits that fits
   in 32 bits. A ProfileList subkey of another name (S-...-1001.bak) is no
   Win32_UserProfile instance. */
static BOOL IsSid(const wchar_t* text) {
  if (wcsncmp(text, L"S-1-", 4) != 0) return FALSE;
  text += 4;
  int numbers = 0;
  for (;;) {
    unsigned long long value = 0;
    int digits = 0;
    for (; *text >= L'0' && *text <= L'9'; ++text) {
      if (++digits > 10) return FALSE;
      value = value * 10 + (unsigned)(*text - L'0');
    }
    if (digits == 0 || value > 0xFFFFFFFFull) return FALSE;
    ++numbers;
    if (*text == 0) break;
    if (*text != L'-') return FALSE;
    ++text;
  }
  return numbers >= 2 && numbers <= 16;
}

static BOOL IsNameCharacter(wchar_t c) {
  return (c >= L'A' && c <= L'Z') || (c >= L'a' && c <= L'z') || (c >= L'0' && c <= L'9') ||
         c == L'_';
}

/* Reads the object path PATH, which must be Win32_UserProfile.SID="SID" (the
   class and key name in any case), and copies the SID to sid (room for PATH).
   Returns S_OK, WBEM_E_INVALID_CLASS for another class, or
   WBEM_E_INVALID_OBJECT_PATH. */
static HRESULT ReadProfilePath(const wchar_t* path, wchar_t* sid) {
  size_t classLength = 0;
  while (IsNameCharacter(path[classLength])) ++classLength;
  if (classLength == 0 || (path[classLength] != L'.' && path[classLength] != 0)) {
    return WBEM_E_INVALID_OBJECT_PATH;
  }
  if (classLength != wcslen(PROFILE_CLASS) || _wcsnicmp(path, PROFILE_CLASS, classLength) != 0) {
    return WBEM_E_INVALID_CLASS;
  }
  const wchar_t* key = path + classLength;
  if (_wcsnicmp(key, L".SID=\"", 6) != 0) return WBEM_E_INVALID_OBJECT_PATH;
  const wchar_t* value = key + 6;
  const wchar_t* end = wcschr(value, L'"');
  /* Nothing after the closing quote; no escapes (a SID needs none). */
  if (end == NULL || end[1] != 0 || wcschr(value, L'\\') != NULL) {
    return WBEM_E_INVALID_OBJECT_PATH;
  }
  wmemcpy(sid, value, (size_t)(end - value));
  sid[end - value] = 0;
  return S_OK;
}

/* The SystemRoot of COMPUTER as its own processes have it: the staged
   CurrentVersion value, or C:\Windows when none is staged as text. */
static void RemoteSystemRoot(const wchar_t* computer, wchar_t root[MAX_PATH + 1]) {
  wchar_t keyPath[sizeof REMOTES / sizeof(wchar_t) + MAX_COMPUTER + 64];
  wcscpy(keyPath, REMOTES);
  wcscat(keyPath, computer);
  wcscat(keyPath, L"\\SOFTWARE\\Microsoft\\Windows NT\\CurrentVersion");
  DWORD type = 0;
  DWORD bytes = MAX_PATH * sizeof(wchar_t);
  const LSTATUS status =
      RegGetValueW(HKEY_LOCAL_MACHINE, keyPath, L"SystemRoot",
                   RRF_RT_REG_SZ | RRF_RT_REG_EXPAND_SZ | RRF_NOEXPAND, &type, root, &bytes);
  if (status != ERROR_SUCCESS || root[0] == 0) wcscpy(root, L"C:\\Windows");
}

/* Expands TEXT as on the remote computer: %SystemRoot% and %windir% are
   ROOT, %SystemDrive% its first two characters (names in any case); other
   variables stay as written. The result goes to out (capacity characters
   with the terminator); false when it does not fit. */
static BOOL ExpandRemote(const wchar_t* text, const wchar_t* root, wchar_t* out, size_t capacity) {
  const wchar_t drive[3] = {root[0], root[0] != 0 ? root[1] : 0, 0};
  size_t length = 0;
  while (*text != 0) {
    const wchar_t* value = NULL;
    size_t valueLength = 1;
    size_t consumed = 1;
    const wchar_t* close = *text == L'%' ? wcschr(text + 1, L'%') : NULL;
    if (close != NULL) {
      const size_t nameLength = (size_t)(close - (text + 1));
      if (nameLength == 11 && _wcsnicmp(text + 1, L"SystemDrive", 11) == 0) {
        value = drive;
      } else if ((nameLength == 10 && _wcsnicmp(text + 1, L"SystemRoot", 10) == 0) ||
                 (nameLength == 6 && _wcsnicmp(text + 1, L"windir", 6) == 0)) {
        value = root;
      }
      /* An unknown variable is copied whole, both percent signs with it. */
      consumed = nameLength + 2;
      if (value != NULL) valueLength = wcslen(value);
    }
    if (value == NULL) {
      value = text;
      valueLength = consumed;
    }
    if (length + valueLength >= capacity) return FALSE;
    wmemcpy(out + length, value, valueLength);
    length += valueLength;
    text += consumed;
  }
  out[length] = 0;
  return TRUE;
}

/* The folder of the profile that KEY describes on COMPUTER, as the prefix
   reaches it (\\COMPUTER\C$\Users\Old for C:\Users\Old), in folder (room
   for MAX_PATH characters and the terminator); empty when the profile
   names none. Returns 0 or a Win32 error. */
static DWORD ProfileFolder(HKEY key, const wchar_t* computer, wchar_t folder[MAX_PATH + 1]) {
  folder[0] = 0;
  wchar_t stored[MAX_PATH + 2];
  DWORD type = 0;
  DWORD bytes = sizeof stored - sizeof(wchar_t);
  const LSTATUS status =
      RegQueryValueExW(key, L"ProfileImagePath", NULL, &type, (BYTE*)stored, &bytes);
  if (status == ERROR_FILE_NOT_FOUND) return 0;
  if (status == ERROR_MORE_DATA) return ERROR_FILENAME_EXCED_RANGE;
  if (status != ERROR_SUCCESS) return (DWORD)status;
  if (type != REG_SZ && type != REG_EXPAND_SZ) return 0; /* names no folder */
  stored[bytes / sizeof(wchar_t)] = 0; /* the text may be stored without terminator */
  if (stored[0] == 0) return 0;
  wchar_t root[MAX_PATH + 1];
  RemoteSystemRoot(computer, root);
  wchar_t expanded[MAX_PATH + 1];
  if (!ExpandRemote(stored, root, expanded, MAX_PATH + 1)) return ERROR_FILENAME_EXCED_RANGE;
  const wchar_t drive = expanded[0];
  if (!((drive >= L'A' && drive <= L'Z') || (drive >= L'a' && drive <= L'z')) ||
      expanded[1] != L':' || (expanded[2] != 0 && expanded[2] != L'\\')) {
    return ERROR_BAD_PATHNAME;
  }
  size_t rest = wcslen(expanded);
  while (rest > 2 && expanded[rest - 1] == L'\\') expanded[--rest] = 0;
  /* \\ COMPUTER \ D $ and the path after the drive's colon */
  if (2 + wcslen(computer) + 3 + (rest - 2) > MAX_PATH) return ERROR_FILENAME_EXCED_RANGE;
  wcscpy(folder, L"\\\\");
  wcscat(folder, computer);
  const wchar_t share[4] = {L'\\', drive, L'$', 0};
  wcscat(folder, share);
  wcscat(folder, expanded + 2);
  return 0;
}

/* Deletes the profile SID on COMPUTER as its WMI service does: the folder
   (unless a file of it is held open) and then the ProfileList subkey. */
static HRESULT DeleteRemoteProfile(const wchar_t* computer, const wchar_t* sid) {
  wchar_t keyPath[sizeof REMOTES / sizeof(wchar_t) + MAX_COMPUTER +
                  sizeof PROFILE_LIST / sizeof(wchar_t) + 1 + MAX_OBJECT_PATH];
  wcscpy(keyPath, REMOTES);
  wcscat(keyPath, computer);
  wcscat(keyPath, L"\\" PROFILE_LIST L"\\");
  wcscat(keyPath, sid);
  HKEY key = NULL;
  LSTATUS status = RegOpenKeyExW(HKEY_LOCAL_MACHINE, keyPath, 0, KEY_READ, &key);
  if (status == ERROR_FILE_NOT_FOUND) return WBEM_E_NOT_FOUND;
  if (status != ERROR_SUCCESS) return HRESULT_FROM_WIN32((DWORD)status);
  wchar_t folder[MAX_PATH + 1];
  DWORD error = ProfileFolder(key, computer, folder);
  RegCloseKey(key);
  if (error != 0) return HRESULT_FROM_WIN32(error);
  if (folder[0] != 0) {
    if (GetFileAttributesW(folder) == INVALID_FILE_ATTRIBUTES) {
      error = GetLastError();
      /* A folder that is gone leaves only the key to delete. */
      if (error != ERROR_FILE_NOT_FOUND && error != ERROR_PATH_NOT_FOUND) {
        return HRESULT_FROM_WIN32(error);
      }
    } else {
      error = FindHeldFile(folder);
      if (error == 0) error = RemoveTree(folder);
      if (error != 0) return HRESULT_FROM_WIN32(error);
    }
  }
  status = RegDeleteTreeW(HKEY_LOCAL_MACHINE, keyPath);
  if (status != ERROR_SUCCESS) return HRESULT_FROM_WIN32((DWORD)status);
  return WBEM_S_NO_ERROR;
}

/* --- IWbemServices and IClientSecurity --------------------------------------- */

struct Services {
  IWbemServices services;
  IClientSecurity security;
  LONG references;
  struct Tracked tracked;
  wchar_t resource[MAX_RESOURCE + 1]; /* as given to ConnectServer */
  wchar_t computer[MAX_COMPUTER + 1];
  /* The proxy blanket: 0 (the defaults) until SetBlanket. */
  DWORD authnService;
  DWORD authzService;
  DWORD authnLevel;
  DWORD impLevel;
  DWORD capabilities;
};

static struct Services* FromServices(IWbemServices* self) {
  return CONTAINING_RECORD(self, struct Services, services);
}

static struct Services* FromSecurity(IClientSecurity* self) {
  return CONTAINING_RECORD(self, struct Services, security);
}

static HRESULT ServicesQueryInterface(struct Services* services, REFIID iid, void** result) {
  if (result == NULL) return E_POINTER;
  if (IsEqualIID(iid, &IID_IUnknown) || IsEqualIID(iid, &IID_IWbemServices)) {
    *result = &services->services;
  } else if (IsEqualIID(iid, &IID_IClientSecurity)) {
    *result = &services->security;
  } else {
    *result = NULL;
    return E_NOINTERFACE;
  }
  InterlockedIncrement(&services->references);
  return S_OK;
}

static ULONG ServicesRelease(struct Services* services) {
  const LONG references = InterlockedDecrement(&services->references);
  if (references == 0) {
    Untrack(&services->tracked);
    FreeObject(services);
  }
  return (ULONG)references;
}

static HRESULT STDMETHODCALLTYPE WbemQueryInterface(IWbemServices* self, REFIID iid,
                                                    void** result) {
  return ServicesQueryInterface(FromServices(self), iid, result);
}

static ULONG STDMETHODCALLTYPE WbemAddRef(IWbemServices* self) {
  return (ULONG)InterlockedIncrement(&FromServices(self)->references);
}

static ULONG STDMETHODCALLTYPE WbemRelease(IWbemServices* self) {
  return ServicesRelease(FromServices(self));
}

static HRESULT STDMETHODCALLTYPE WbemDeleteInstance(IWbemServices* self, const BSTR path,
                                                    LONG flags, IWbemContext* context,
                                                    IWbemCallResult** callResult) {
  (void)context;
  const struct Services* services = FromServices(self);
  Log2("DeleteInstance", services->resource, path);
  if (callResult != NULL) *callResult = NULL;
  /* The server refuses the call before it looks at it. */
  if (services->authnLevel < RPC_C_AUTHN_LEVEL_PKT_INTEGRITY ||
      services->impLevel < RPC_C_IMP_LEVEL_IMPERSONATE) {
    return WBEM_E_ACCESS_DENIED;
  }
  if (flags != 0 || callResult != NULL || path == NULL ||
      BoundedLength(path, MAX_OBJECT_PATH) > MAX_OBJECT_PATH) {
    return WBEM_E_INVALID_PARAMETER;
  }
  wchar_t sid[MAX_OBJECT_PATH + 1];
  const HRESULT read = ReadProfilePath(path, sid);
  if (FAILED(read)) return read;
  if (!IsSid(sid)) return WBEM_E_NOT_FOUND;
  wchar_t name[MAX_COMPUTER + 1 + MAX_OBJECT_PATH + 1];
  wcscpy(name, services->computer);
  wcscat(name, L"\\");
  wcscat(name, sid);
  wchar_t value[VALUE_CHARS];
  switch (FindEntry(L"WRENFOLD_TEST_WMI_DELETE", name, value)) {
    case LIST_UNREADABLE:
      return WBEM_E_FAILED;
    case LIST_FOUND: {
      if (_wcsicmp(value, L"keep") == 0) return WBEM_S_NO_ERROR;
      HRESULT answer = S_OK;
      if (!ReadHresult(value, &answer)) return WBEM_E_FAILED;
      if (answer != S_OK) return answer;
      break;
    }
    case LIST_ABSENT:
      break;
  }
  return DeleteRemoteProfile(services->computer, sid);
}

/* The methods the command does not use: they answer WBEM_E_NOT_SUPPORTED and
   clear their results. */
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wunused-parameter"

static HRESULT STDMETHODCALLTYPE WbemOpenNamespace(IWbemServices* self, const BSTR space,
                                                   LONG flags, IWbemContext* context,
                                                   IWbemServices** result,
                                                   IWbemCallResult** callResult) {
  if (result != NULL) *result = NULL;
  if (callResult != NULL) *callResult = NULL;
  return WBEM_E_NOT_SUPPORTED;
}

static HRESULT STDMETHODCALLTYPE WbemCancelAsyncCall(IWbemServices* self, IWbemObjectSink* sink) {
  return WBEM_E_NOT_SUPPORTED;
}

static HRESULT STDMETHODCALLTYPE WbemQueryObjectSink(IWbemServices* self, LONG flags,
                                                     IWbemObjectSink** handler) {
  if (handler != NULL) *handler = NULL;
  return WBEM_E_NOT_SUPPORTED;
}

static HRESULT STDMETHODCALLTYPE WbemGetObject(IWbemServices* self, const BSTR path, LONG flags,
                                               IWbemContext* context, IWbemClassObject** object,
                                               IWbemCallResult** callResult) {
  if (object != NULL) *object = NULL;
  if (callResult != NULL) *callResult = NULL;
  return WBEM_E_NOT_SUPPORTED;
}

static HRESULT STDMETHODCALLTYPE WbemGetObjectAsync(IWbemServices* self, const BSTR path,
                                                    LONG flags, IWbemContext* context,
                                                    IWbemObjectSink* handler) {
  return WBEM_E_NOT_SUPPORTED;
}

static HRESULT STDMETHODCALLTYPE WbemPutClass(IWbemServices* self, IWbemClassObject* object,
                                              LONG flags, IWbemContext* context,
                                              IWbemCallResult** callResult) {
  if (callResult != NULL) *callResult = NULL;
  return WBEM_E_NOT_SUPPORTED;
}

static HRESULT STDMETHODCALLTYPE WbemPutClassAsync(IWbemServices* self, IWbemClassObject* object,
                                                   LONG flags, IWbemContext* context,
                                                   IWbemObjectSink* handler) {
  return WBEM_E_NOT_SUPPORTED;
}

static HRESULT STDMETHODCALLTYPE WbemDeleteClass(IWbemServices* self, const BSTR name, LONG flags,
                                                 IWbemContext* context,
                                                 IWbemCallResult** callResult) {
  if (callResult != NULL) *callResult = NULL;
  return WBEM_E_NOT_SUPPORTED;
}

static HRESULT STDMETHODCALLTYPE WbemDeleteClassAsync(IWbemServices* self, const BSTR name,
                                                      LONG flags, IWbemContext* context,
                                                      IWbemObjectSink* handler) {
  return WBEM_E_NOT_SUPPORTED;
}

static HRESULT STDMETHODCALLTYPE WbemCreateClassEnum(IWbemServices* self, const BSTR superclass,
                                                     LONG flags, IWbemContext* context,
                                                     IEnumWbemClassObject** result) {
  if (result != NULL) *result = NULL;
  return WBEM_E_NOT_SUPPORTED;
}

static HRESULT STDMETHODCALLTYPE WbemCreateClassEnumAsync(IWbemServices* self,
                                                          const BSTR superclass, LONG flags,
                                                          IWbemContext* context,
                                                          IWbemObjectSink* handler) {
  return WBEM_E_NOT_SUPPORTED;
}

static HRESULT STDMETHODCALLTYPE WbemPutInstance(IWbemServices* self, IWbemClassObject* instance,
                                                 LONG flags, IWbemContext* context,
                                                 IWbemCallResult** callResult) {
  if (callResult != NULL) *callResult = NULL;
  return WBEM_E_NOT_SUPPORTED;
}

static HRESULT STDMETHODCALLTYPE WbemPutInstanceAsync(IWbemServices* self,
                                                      IWbemClassObject* instance, LONG flags,
                                                      IWbemContext* context,
                                                      IWbemObjectSink* handler) {
  return WBEM_E_NOT_SUPPORTED;
}

static HRESULT STDMETHODCALLTYPE WbemDeleteInstanceAsync(IWbemServices* self, const BSTR path,
                                                         LONG flags, IWbemContext* context,
                                                         IWbemObjectSink* handler) {
  return WBEM_E_NOT_SUPPORTED;
}

static HRESULT STDMETHODCALLTYPE WbemCreateInstanceEnum(IWbemServices* self, const BSTR filter,
                                                        LONG flags, IWbemContext* context,
                                                        IEnumWbemClassObject** result) {
  if (result != NULL) *result = NULL;
  return WBEM_E_NOT_SUPPORTED;
}

static HRESULT STDMETHODCALLTYPE WbemCreateInstanceEnumAsync(IWbemServices* self, const BSTR filter,
                                                             LONG flags, IWbemContext* context,
                                                             IWbemObjectSink* handler) {
  return WBEM_E_NOT_SUPPORTED;
}

static HRESULT STDMETHODCALLTYPE WbemExecQuery(IWbemServices* self, const BSTR language,
                                               const BSTR query, LONG flags, IWbemContext* context,
                                               IEnumWbemClassObject** result) {
  if (result != NULL) *result = NULL;
  return WBEM_E_NOT_SUPPORTED;
}

static HRESULT STDMETHODCALLTYPE WbemExecQueryAsync(IWbemServices* self, const BSTR language,
                                                    const BSTR query, LONG flags,
                                                    IWbemContext* context,
                                                    IWbemObjectSink* handler) {
  return WBEM_E_NOT_SUPPORTED;
}

static HRESULT STDMETHODCALLTYPE WbemExecNotificationQuery(IWbemServices* self, const BSTR language,
                                                           const BSTR query, LONG flags,
                                                           IWbemContext* context,
                                                           IEnumWbemClassObject** result) {
  if (result != NULL) *result = NULL;
  return WBEM_E_NOT_SUPPORTED;
}

static HRESULT STDMETHODCALLTYPE WbemExecNotificationQueryAsync(IWbemServices* self,
                                                                const BSTR language,
                                                                const BSTR query, LONG flags,
                                                                IWbemContext* context,
                                                                IWbemObjectSink* handler) {
  return WBEM_E_NOT_SUPPORTED;
}

static HRESULT STDMETHODCALLTYPE WbemExecMethod(IWbemServices* self, const BSTR path,
                                                const BSTR method, LONG flags,
                                                IWbemContext* context, IWbemClassObject* input,
                                                IWbemClassObject** output,
                                                IWbemCallResult** callResult) {
  if (output != NULL) *output = NULL;
  if (callResult != NULL) *callResult = NULL;
  return WBEM_E_NOT_SUPPORTED;
}

static HRESULT STDMETHODCALLTYPE WbemExecMethodAsync(IWbemServices* self, const BSTR path,
                                                     const BSTR method, LONG flags,
                                                     IWbemContext* context, IWbemClassObject* input,
                                                     IWbemObjectSink* handler) {
  return WBEM_E_NOT_SUPPORTED;
}

#pragma GCC diagnostic pop

static IWbemServicesVtbl servicesMethods = {
    WbemQueryInterface,
    WbemAddRef,
    WbemRelease,
    WbemOpenNamespace,
    WbemCancelAsyncCall,
    WbemQueryObjectSink,
    WbemGetObject,
    WbemGetObjectAsync,
    WbemPutClass,
    WbemPutClassAsync,
    WbemDeleteClass,
    WbemDeleteClassAsync,
    WbemCreateClassEnum,
    WbemCreateClassEnumAsync,
    WbemPutInstance,
    WbemPutInstanceAsync,
    WbemDeleteInstance,
    WbemDeleteInstanceAsync,
    WbemCreateInstanceEnum,
    WbemCreateInstanceEnumAsync,
    WbemExecQuery,
    WbemExecQueryAsync,
    WbemExecNotificationQuery,
    WbemExecNotificationQueryAsync,
    WbemExecMethod,
    WbemExecMethodAsync,
};

static HRESULT STDMETHODCALLTYPE SecurityQueryInterface(IClientSecurity* self, REFIID iid,
                                                        void** result) {
  return ServicesQueryInterface(FromSecurity(self), iid, result);
}

static ULONG STDMETHODCALLTYPE SecurityAddRef(IClientSecurity* self) {
  return (ULONG)InterlockedIncrement(&FromSecurity(self)->references);
}

static ULONG STDMETHODCALLTYPE SecurityRelease(IClientSecurity* self) {
  return ServicesRelease(FromSecurity(self));
}

/* Whether PROXY is an interface of this object, as a proxy's IClientSecurity
   requires of the proxy it is given. */
static BOOL IsOwnProxy(const struct Services* services, const IUnknown* proxy) {
  return proxy == (const IUnknown*)&services->services ||
         proxy == (const IUnknown*)&services->security;
}

static HRESULT STDMETHODCALLTYPE SecurityQueryBlanket(IClientSecurity* self, IUnknown* proxy,
                                                      DWORD* authnService, DWORD* authzService,
                                                      OLECHAR** serverName, DWORD* authnLevel,
                                                      DWORD* impLevel, void** authInfo,
                                                      DWORD* capabilities) {
  const struct Services* services = FromSecurity(self);
  if (!IsOwnProxy(services, proxy)) return E_INVALIDARG;
  if (authnService != NULL) *authnService = services->authnService;
  if (authzService != NULL) *authzService = services->authzService;
  if (serverName != NULL) *serverName = NULL;
  if (authnLevel != NULL) *authnLevel = services->authnLevel;
  if (impLevel != NULL) *impLevel = services->impLevel;
  if (authInfo != NULL) *authInfo = NULL;
  if (capabilities != NULL) *capabilities = services->capabilities;
  return S_OK;
}

static HRESULT STDMETHODCALLTYPE SecuritySetBlanket(IClientSecurity* self, IUnknown* proxy,
                                                    DWORD authnService, DWORD authzService,
                                                    OLECHAR* serverName, DWORD authnLevel,
                                                    DWORD impLevel, void* authInfo,
                                                    DWORD capabilities) {
  (void)serverName;
  (void)authInfo;
  struct Services* services = FromSecurity(self);
  if (!IsOwnProxy(services, proxy)) return E_INVALIDARG;
  services->authnService = authnService;
  services->authzService = authzService;
  services->authnLevel = authnLevel;
  services->impLevel = impLevel;
  services->capabilities = capabilities;
  return S_OK;
}

static HRESULT STDMETHODCALLTYPE SecurityCopyProxy(IClientSecurity* self, IUnknown* proxy,
                                                   IUnknown** copy) {
  (void)self;
  (void)proxy;
  if (copy != NULL) *copy = NULL;
  return E_NOTIMPL;
}

static IClientSecurityVtbl securityMethods = {
    SecurityQueryInterface, SecurityAddRef,     SecurityRelease,
    SecurityQueryBlanket,   SecuritySetBlanket, SecurityCopyProxy,
};

/* --- IWbemLocator ------------------------------------------------------------ */

struct Locator {
  IWbemLocator locator;
  LONG references;
  struct Tracked tracked;
};

static struct Locator* FromLocator(IWbemLocator* self) {
  return CONTAINING_RECORD(self, struct Locator, locator);
}

static HRESULT STDMETHODCALLTYPE LocatorQueryInterface(IWbemLocator* self, REFIID iid,
                                                       void** result) {
  if (result == NULL) return E_POINTER;
  if (!IsEqualIID(iid, &IID_IUnknown) && !IsEqualIID(iid, &IID_IWbemLocator)) {
    *result = NULL;
    return E_NOINTERFACE;
  }
  *result = self;
  InterlockedIncrement(&FromLocator(self)->references);
  return S_OK;
}

static ULONG STDMETHODCALLTYPE LocatorAddRef(IWbemLocator* self) {
  return (ULONG)InterlockedIncrement(&FromLocator(self)->references);
}

static ULONG STDMETHODCALLTYPE LocatorRelease(IWbemLocator* self) {
  struct Locator* locator = FromLocator(self);
  const LONG references = InterlockedDecrement(&locator->references);
  if (references == 0) {
    Untrack(&locator->tracked);
    FreeObject(locator);
  }
  return (ULONG)references;
}

/* The connection's answer for RESOURCE (\\NAME\root\cimv2): S_OK with the
   computer's name in computer, or the failure. */
static HRESULT ReadResource(const wchar_t* resource, wchar_t computer[MAX_COMPUTER + 1]) {
  if (resource[0] != L'\\' || resource[1] != L'\\') return WBEM_E_INVALID_NAMESPACE;
  const wchar_t* name = resource + 2;
  const wchar_t* separator = wcschr(name, L'\\');
  if (separator == NULL || separator == name || _wcsicmp(separator + 1, NAMESPACE) != 0) {
    return WBEM_E_INVALID_NAMESPACE;
  }
  const size_t length = (size_t)(separator - name);
  if (length > MAX_COMPUTER) return WBEM_E_INVALID_PARAMETER;
  wmemcpy(computer, name, length);
  computer[length] = 0;
  wchar_t value[VALUE_CHARS];
  HRESULT answer = S_OK;
  switch (FindEntry(L"WRENFOLD_TEST_WMI", computer, value)) {
    case LIST_ABSENT:
      return WBEM_E_TRANSPORT_FAILURE; /* as Wine's own WMI answers */
    case LIST_UNREADABLE:
      return WBEM_E_FAILED;
    case LIST_FOUND:
      break;
  }
  if (!ReadHresult(value, &answer)) return WBEM_E_FAILED;
  return answer;
}

static HRESULT STDMETHODCALLTYPE LocatorConnectServer(IWbemLocator* self, const BSTR resource,
                                                      const BSTR user, const BSTR password,
                                                      const BSTR locale, LONG securityFlags,
                                                      const BSTR authority, IWbemContext* context,
                                                      IWbemServices** result) {
  (void)self;
  (void)user;
  (void)password;
  (void)locale;
  (void)authority;
  (void)context;
  Log1("ConnectServer", resource);
  if (result == NULL) return WBEM_E_INVALID_PARAMETER;
  *result = NULL;
  if (resource == NULL || (securityFlags & WBEM_FLAG_CONNECT_USE_MAX_WAIT) == 0 ||
      BoundedLength(resource, MAX_RESOURCE) > MAX_RESOURCE) {
    return WBEM_E_INVALID_PARAMETER;
  }
  wchar_t computer[MAX_COMPUTER + 1];
  const HRESULT answer = ReadResource(resource, computer);
  if (answer != S_OK) return answer;
  struct Services* services = NewObject(sizeof *services);
  if (services == NULL) return WBEM_E_OUT_OF_MEMORY;
  services->services.lpVtbl = &servicesMethods;
  services->security.lpVtbl = &securityMethods;
  services->references = 1;
  wcscpy(services->resource, resource);
  wcscpy(services->computer, computer);
  Track(&services->tracked, L"IWbemServices", services->resource);
  *result = &services->services;
  return WBEM_S_NO_ERROR;
}

static IWbemLocatorVtbl locatorMethods = {
    LocatorQueryInterface,
    LocatorAddRef,
    LocatorRelease,
    LocatorConnectServer,
};

/* --- IClassFactory ----------------------------------------------------------- */

struct Factory {
  IClassFactory factory;
  LONG references;
  struct Tracked tracked;
};

static struct Factory* FromFactory(IClassFactory* self) {
  return CONTAINING_RECORD(self, struct Factory, factory);
}

static HRESULT STDMETHODCALLTYPE FactoryQueryInterface(IClassFactory* self, REFIID iid,
                                                       void** result) {
  if (result == NULL) return E_POINTER;
  if (!IsEqualIID(iid, &IID_IUnknown) && !IsEqualIID(iid, &IID_IClassFactory)) {
    *result = NULL;
    return E_NOINTERFACE;
  }
  *result = self;
  InterlockedIncrement(&FromFactory(self)->references);
  return S_OK;
}

static ULONG STDMETHODCALLTYPE FactoryAddRef(IClassFactory* self) {
  return (ULONG)InterlockedIncrement(&FromFactory(self)->references);
}

static ULONG STDMETHODCALLTYPE FactoryRelease(IClassFactory* self) {
  struct Factory* factory = FromFactory(self);
  const LONG references = InterlockedDecrement(&factory->references);
  if (references == 0) {
    Untrack(&factory->tracked);
    FreeObject(factory);
  }
  return (ULONG)references;
}

static HRESULT STDMETHODCALLTYPE FactoryCreateInstance(IClassFactory* self, IUnknown* outer,
                                                       REFIID iid, void** result) {
  (void)self;
  if (result == NULL) return E_POINTER;
  *result = NULL;
  if (outer != NULL) return CLASS_E_NOAGGREGATION;
  struct Locator* locator = NewObject(sizeof *locator);
  if (locator == NULL) return E_OUTOFMEMORY;
  locator->locator.lpVtbl = &locatorMethods;
  locator->references = 1;
  Track(&locator->tracked, L"IWbemLocator", NULL);
  const HRESULT answer = LocatorQueryInterface(&locator->locator, iid, result);
  LocatorRelease(&locator->locator);
  return answer;
}

/* An unlock without a lock is refused: the count never goes below zero, so
   that locks taken later still show. */
static HRESULT STDMETHODCALLTYPE FactoryLockServer(IClassFactory* self, BOOL lock) {
  (void)self;
  if (lock) {
    InterlockedIncrement(&serverLocks);
    return S_OK;
  }
  for (LONG locks = serverLocks; locks > 0; locks = serverLocks) {
    if (InterlockedCompareExchange(&serverLocks, locks - 1, locks) == locks) return S_OK;
  }
  return E_UNEXPECTED;
}

static IClassFactoryVtbl factoryMethods = {
    FactoryQueryInterface, FactoryAddRef, FactoryRelease, FactoryCreateInstance, FactoryLockServer,
};

/* --- The library ------------------------------------------------------------- */

__declspec(dllexport) HRESULT WINAPI DllGetClassObject(REFCLSID clsid, REFIID iid, void** result) {
  if (result == NULL) return E_POINTER;
  *result = NULL;
  if (!IsEqualCLSID(clsid, &CLSID_WbemLocator)) return CLASS_E_CLASSNOTAVAILABLE;
  struct Factory* factory = NewObject(sizeof *factory);
  if (factory == NULL) return E_OUTOFMEMORY;
  factory->factory.lpVtbl = &factoryMethods;
  factory->references = 1;
  Track(&factory->tracked, L"IClassFactory", NULL);
  const HRESULT answer = FactoryQueryInterface(&factory->factory, iid, result);
  FactoryRelease(&factory->factory);
  return answer;
}

__declspec(dllexport) HRESULT WINAPI DllCanUnloadNow(void) {
  return objectsAlive == 0 && serverLocks == 0 ? S_OK : S_FALSE;
}

BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason, LPVOID reserved) {
  if (reason == DLL_PROCESS_ATTACH) {
    DisableThreadLibraryCalls(instance);
    InitializeCriticalSection(&trackedLock);
  } else if (reason == DLL_PROCESS_DETACH) {
    ReportOpenObjects();
    /* At process exit (reserved set) the lock may be held by a thread that
       is gone; it goes with the process. */
    if (reserved == NULL) DeleteCriticalSection(&trackedLock);
  }
  return TRUE;
}
