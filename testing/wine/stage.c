/*
 * Test-only helper that prepares a Wine prefix for one scenario, runs the
 * command in it and reports what it left behind. It is never shipped.
 *
 *   wfstage.exe JOBFILE RESULTFILE
 *
 * JOBFILE holds one instruction per line, fields separated by one space.
 * Texts are written as "x" followed by their UTF-16LE bytes in hex ("x" alone
 * is the empty text), so any character and any byte sequence passes
 * unharmed. Registry keys are paths under HKEY_LOCAL_MACHINE.
 *
 *   deltree KEY              delete KEY and everything below it (absent: fine)
 *   key KEY                  create KEY
 *   value KEY NAME TYPE DATA set a value to exactly the bytes of DATA
 *   deny KEY MASK            give KEY a DACL that denies everyone the access
 *                            rights of MASK and allows them the rest
 *   attrib PATH NUMBER       SetFileAttributesW
 *   env NAME VALUE           set a variable that the command inherits
 *   unenv NAME               remove a variable from what the command inherits
 *   name                     report the computer name
 *   hold PATH                open PATH without sharing and keep it open
 *   output PATH              the next run writes its standard output to PATH
 *                            (otherwise to this helper's own)
 *   run APP CMDLINE          start APP, wait for it and report its full
 *                            exit code
 *   release                  close every held file
 *   enum KEY                 report the subkey names of KEY in order
 *   computer NAME            the reports that follow are of computer NAME
 *
 * RESULTFILE receives one line per report: "name x..", "exit N",
 * "subkey x..", "enumfailed N", "computer x..". Standard output is left to
 * the command; problems go to standard error and give exit code 2.
 */
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <wchar.h>
#include <windows.h>

#define MAX_HELD 64
#define MAX_FIELDS 5

static HANDLE output = INVALID_HANDLE_VALUE;
static HANDLE held[MAX_HELD];
static int heldCount;
static FILE* result;
static int lineNumber;

static void Fail(const char* what, DWORD status) {
  fprintf(stderr, "wfstage: line %d: %s failed with %lu\n", lineNumber, what,
          (unsigned long)status);
  exit(2);
}

static int HexDigit(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

/* Decodes an "x<hex>" field into a new buffer with four spare bytes after the
   data: the caller decides what they hold. */
static unsigned char* DecodeField(const char* field, DWORD* size) {
  if (field[0] != 'x') Fail("reading a text field", ERROR_INVALID_DATA);
  size_t digits = strlen(field + 1);
  if (digits % 2 != 0) Fail("reading a text field", ERROR_INVALID_DATA);
  unsigned char* bytes = calloc(digits / 2 + 4, 1);
  if (bytes == NULL) Fail("allocating", ERROR_OUTOFMEMORY);
  for (size_t i = 0; i < digits / 2; ++i) {
    int high = HexDigit(field[1 + 2 * i]);
    int low = HexDigit(field[2 + 2 * i]);
    if (high < 0 || low < 0) Fail("reading a text field", ERROR_INVALID_DATA);
    bytes[i] = (unsigned char)(high * 16 + low);
  }
  *size = (DWORD)(digits / 2);
  return bytes;
}

/* A text field as a terminated wide string. */
static wchar_t* DecodeText(const char* field) {
  DWORD size = 0;
  unsigned char* bytes = DecodeField(field, &size);
  if (size % 2 != 0) Fail("reading a text field", ERROR_INVALID_DATA);
  return (wchar_t*)bytes; /* the spare bytes are zero: terminated */
}

static void WriteText(const char* label, const wchar_t* text) {
  fprintf(result, "%s x", label);
  const unsigned char* bytes = (const unsigned char*)text;
  for (size_t i = 0; i < wcslen(text) * 2; ++i) fprintf(result, "%02x", bytes[i]);
  fprintf(result, "\n");
}

static HKEY CreateKey(const wchar_t* path) {
  HKEY key = NULL;
  LSTATUS status =
      RegCreateKeyExW(HKEY_LOCAL_MACHINE, path, 0, NULL, 0, KEY_ALL_ACCESS, NULL, &key, NULL);
  if (status != ERROR_SUCCESS) Fail("RegCreateKeyExW", (DWORD)status);
  return key;
}

static void DeleteTree(const wchar_t* path) {
  LSTATUS status = RegDeleteTreeW(HKEY_LOCAL_MACHINE, path);
  if (status != ERROR_SUCCESS && status != ERROR_FILE_NOT_FOUND) Fail("RegDeleteTreeW", status);
}

static void SetValue(const wchar_t* path, const wchar_t* name, DWORD type, const char* dataField) {
  DWORD size = 0;
  unsigned char* data = DecodeField(dataField, &size);
  /* A zero character right after a text makes the registry count a
     terminator in; a non-zero one keeps the value to exactly SIZE bytes. */
  memset(data + size, 'X', 4);
  HKEY key = CreateKey(path);
  LSTATUS status = RegSetValueExW(key, name, 0, type, data, size);
  if (status != ERROR_SUCCESS) Fail("RegSetValueExW", (DWORD)status);
  RegCloseKey(key);
  free(data);
}

static void Deny(const wchar_t* path, DWORD mask) {
  HKEY key = NULL;
  LSTATUS status = RegOpenKeyExW(HKEY_LOCAL_MACHINE, path, 0, WRITE_DAC, &key);
  if (status != ERROR_SUCCESS) Fail("RegOpenKeyExW", (DWORD)status);
  SID_IDENTIFIER_AUTHORITY world = {SECURITY_WORLD_SID_AUTHORITY};
  PSID everyone = NULL;
  if (!AllocateAndInitializeSid(&world, 1, SECURITY_WORLD_RID, 0, 0, 0, 0, 0, 0, 0, &everyone)) {
    Fail("AllocateAndInitializeSid", GetLastError());
  }
  DWORD aclBytes = sizeof(ACL) + 2 * (sizeof(ACCESS_ALLOWED_ACE) + GetLengthSid(everyone));
  PACL acl = (PACL)calloc(1, aclBytes);
  SECURITY_DESCRIPTOR descriptor;
  if (acl == NULL || !InitializeAcl(acl, aclBytes, ACL_REVISION) ||
      !AddAccessDeniedAce(acl, ACL_REVISION, mask, everyone) ||
      !AddAccessAllowedAce(acl, ACL_REVISION, KEY_ALL_ACCESS, everyone) ||
      !InitializeSecurityDescriptor(&descriptor, SECURITY_DESCRIPTOR_REVISION) ||
      !SetSecurityDescriptorDacl(&descriptor, TRUE, acl, FALSE)) {
    Fail("building the key's DACL", GetLastError());
  }
  status = RegSetKeySecurity(key, DACL_SECURITY_INFORMATION, &descriptor);
  if (status != ERROR_SUCCESS) Fail("RegSetKeySecurity", (DWORD)status);
  RegCloseKey(key);
  free(acl);
  FreeSid(everyone);
}

static void Enumerate(const wchar_t* path) {
  HKEY key = NULL;
  LSTATUS status = RegOpenKeyExW(HKEY_LOCAL_MACHINE, path, 0, KEY_READ, &key);
  if (status != ERROR_SUCCESS) {
    fprintf(result, "enumfailed %ld\n", (long)status);
    return;
  }
  for (DWORD index = 0;; ++index) {
    wchar_t name[512];
    DWORD chars = 512;
    status = RegEnumKeyExW(key, index, name, &chars, NULL, NULL, NULL, NULL);
    if (status == ERROR_NO_MORE_ITEMS) break;
    if (status != ERROR_SUCCESS) Fail("RegEnumKeyExW", (DWORD)status);
    WriteText("subkey", name);
  }
  RegCloseKey(key);
}

static void Hold(const wchar_t* path) {
  if (heldCount == MAX_HELD) Fail("holding another file", ERROR_TOO_MANY_OPEN_FILES);
  HANDLE file = CreateFileW(path, GENERIC_READ, 0, NULL, OPEN_EXISTING,
                            FILE_ATTRIBUTE_NORMAL | FILE_FLAG_BACKUP_SEMANTICS, NULL);
  if (file == INVALID_HANDLE_VALUE) Fail("CreateFileW", GetLastError());
  held[heldCount++] = file;
}

static void Release(void) {
  while (heldCount > 0) CloseHandle(held[--heldCount]);
}

static void Run(const wchar_t* app, wchar_t* commandLine) {
  STARTUPINFOW startup;
  memset(&startup, 0, sizeof startup);
  startup.cb = sizeof startup;
  startup.dwFlags = STARTF_USESTDHANDLES;
  startup.hStdInput = GetStdHandle(STD_INPUT_HANDLE);
  startup.hStdOutput = output != INVALID_HANDLE_VALUE ? output : GetStdHandle(STD_OUTPUT_HANDLE);
  startup.hStdError = GetStdHandle(STD_ERROR_HANDLE);
  // The program runs in its own folder, as the simulation's programs do, so
  // that a relative path means the same on both.
  wchar_t folder[MAX_PATH];
  lstrcpynW(folder, app, MAX_PATH);
  wchar_t* slash = wcsrchr(folder, L'\\');
  if (slash != NULL) *slash = 0;
  PROCESS_INFORMATION process;
  if (!CreateProcessW(app, commandLine, NULL, NULL, TRUE, 0, NULL, slash != NULL ? folder : NULL,
                      &startup, &process)) {
    Fail("CreateProcessW", GetLastError());
  }
  WaitForSingleObject(process.hProcess, INFINITE);
  DWORD code = 0;
  if (!GetExitCodeProcess(process.hProcess, &code)) Fail("GetExitCodeProcess", GetLastError());
  CloseHandle(process.hThread);
  CloseHandle(process.hProcess);
  if (output != INVALID_HANDLE_VALUE) {
    CloseHandle(output);
    output = INVALID_HANDLE_VALUE;
  }
  fprintf(result, "exit %lu\n", (unsigned long)code);
  fflush(result);
}

/* The standard output of the next run: a file of its own, so that this
   helper's standard output can be the terminal that the console draws on. */
static void Output(const wchar_t* path) {
  SECURITY_ATTRIBUTES inherited = {sizeof inherited, NULL, TRUE};
  output = CreateFileW(path, GENERIC_WRITE, FILE_SHARE_READ, &inherited, CREATE_ALWAYS,
                       FILE_ATTRIBUTE_NORMAL, NULL);
  if (output == INVALID_HANDLE_VALUE) Fail("creating the output file", GetLastError());
}

static void ReportName(void) {
  wchar_t name[MAX_COMPUTERNAME_LENGTH + 1];
  DWORD chars = MAX_COMPUTERNAME_LENGTH + 1;
  if (!GetComputerNameW(name, &chars)) Fail("GetComputerNameW", GetLastError());
  WriteText("name", name);
}

static int Split(char* line, char** fields) {
  int count = 0;
  char* save = NULL;
  for (char* field = strtok_r(line, " \r\n", &save); field != NULL;
       field = strtok_r(NULL, " \r\n", &save)) {
    if (count == MAX_FIELDS) Fail("reading the instruction", ERROR_INVALID_DATA);
    fields[count++] = field;
  }
  return count;
}

static void Expect(int count, int wanted) {
  if (count != wanted) Fail("reading the instruction", ERROR_INVALID_DATA);
}

static void Perform(char** fields, int count) {
  const char* op = fields[0];
  if (strcmp(op, "deltree") == 0) {
    Expect(count, 2);
    DeleteTree(DecodeText(fields[1]));
  } else if (strcmp(op, "key") == 0) {
    Expect(count, 2);
    RegCloseKey(CreateKey(DecodeText(fields[1])));
  } else if (strcmp(op, "value") == 0) {
    Expect(count, 5);
    SetValue(DecodeText(fields[1]), DecodeText(fields[2]), (DWORD)strtoul(fields[3], NULL, 10),
             fields[4]);
  } else if (strcmp(op, "deny") == 0) {
    Expect(count, 3);
    Deny(DecodeText(fields[1]), (DWORD)strtoul(fields[2], NULL, 10));
  } else if (strcmp(op, "attrib") == 0) {
    Expect(count, 3);
    if (!SetFileAttributesW(DecodeText(fields[1]), (DWORD)strtoul(fields[2], NULL, 10))) {
      Fail("SetFileAttributesW", GetLastError());
    }
  } else if (strcmp(op, "env") == 0) {
    Expect(count, 3);
    if (!SetEnvironmentVariableW(DecodeText(fields[1]), DecodeText(fields[2]))) {
      Fail("SetEnvironmentVariableW", GetLastError());
    }
  } else if (strcmp(op, "unenv") == 0) {
    Expect(count, 2);
    if (!SetEnvironmentVariableW(DecodeText(fields[1]), NULL) &&
        GetLastError() != ERROR_ENVVAR_NOT_FOUND) {
      Fail("SetEnvironmentVariableW", GetLastError());
    }
  } else if (strcmp(op, "name") == 0) {
    Expect(count, 1);
    ReportName();
  } else if (strcmp(op, "hold") == 0) {
    Expect(count, 2);
    Hold(DecodeText(fields[1]));
  } else if (strcmp(op, "output") == 0) {
    Expect(count, 2);
    Output(DecodeText(fields[1]));
  } else if (strcmp(op, "run") == 0) {
    Expect(count, 3);
    Run(DecodeText(fields[1]), DecodeText(fields[2]));
  } else if (strcmp(op, "release") == 0) {
    Expect(count, 1);
    Release();
  } else if (strcmp(op, "enum") == 0) {
    Expect(count, 2);
    Enumerate(DecodeText(fields[1]));
  } else if (strcmp(op, "computer") == 0) {
    Expect(count, 2);
    WriteText("computer", DecodeText(fields[1]));
  } else {
    Fail("reading the instruction", ERROR_INVALID_FUNCTION);
  }
}

int wmain(int argc, wchar_t** argv) {
  if (argc != 3) {
    fprintf(stderr, "usage: wfstage.exe JOBFILE RESULTFILE\n");
    return 2;
  }
  FILE* job = _wfopen(argv[1], L"rb");
  if (job == NULL) Fail("opening the job file", ERROR_FILE_NOT_FOUND);
  result = _wfopen(argv[2], L"wb");
  if (result == NULL) Fail("creating the result file", ERROR_CANNOT_MAKE);
  /* Lines can be long: a value may carry many kilobytes of hex. */
  size_t capacity = 1 << 16;
  char* line = malloc(capacity);
  if (line == NULL) Fail("allocating", ERROR_OUTOFMEMORY);
  for (;;) {
    size_t length = 0;
    int c;
    while ((c = fgetc(job)) != EOF && c != '\n') {
      if (length + 1 == capacity) {
        capacity *= 2;
        line = realloc(line, capacity);
        if (line == NULL) Fail("allocating", ERROR_OUTOFMEMORY);
      }
      line[length++] = (char)c;
    }
    if (length == 0 && c == EOF) break;
    line[length] = 0;
    ++lineNumber;
    char* fields[MAX_FIELDS];
    int count = Split(line, fields);
    if (count > 0) Perform(fields, count);
    fflush(result);
  }
  Release();
  fclose(job);
  fclose(result);
  return 0;
}
