/*
 * What the test-only stand-ins of the Wine runner (userenv.c, wmi_locator.c)
 * share: the line format of the runner's log, the one write of a line, and
 * the removal of a profile folder. Static functions, included by each
 * library's single source file.
 */
#ifndef WRENFOLD_STANDIN_SHARED_H
#define WRENFOLD_STANDIN_SHARED_H

#include <wchar.h>
#include <windows.h>

/* --- The runner's log ----------------------------------------------------- */

/* Line under construction, written in one go: room for two texts of a few
   hundred characters at four hex digits each. */
struct Line {
  char text[4096];
  size_t length;
};

static inline void Put(struct Line* line, const char* text) {
  while (*text != 0 && line->length + 1 < sizeof line->text) line->text[line->length++] = *text++;
}

/* Appends " x" and the UTF-16LE bytes of TEXT in lower-case hex, or " -"
   for a null pointer. */
static inline void PutText(struct Line* line, const wchar_t* text) {
  static const char digits[] = "0123456789abcdef";
  if (text == NULL) {
    Put(line, " -");
    return;
  }
  Put(line, " x");
  for (; *text != 0; ++text) {
    /* Four hex digits per character; a text too long to fit is cut. */
    if (line->length + 5 >= sizeof line->text) break;
    const unsigned value = (unsigned)*text;
    const unsigned char bytes[2] = {(unsigned char)(value & 0xFF), (unsigned char)(value >> 8)};
    for (int i = 0; i < 2; ++i) {
      line->text[line->length++] = digits[bytes[i] >> 4];
      line->text[line->length++] = digits[bytes[i] & 15];
    }
  }
}

/* Wine does not make an append atomic: two appends at the same moment, on
   one handle or two, can land at the same end of the file and overwrite each
   other. Every writer of the log writes its lines under this mutex. */
#define LOG_MUTEX L"WrenfoldTestLog"

/* Ends the line and appends it to FILE (opened with FILE_APPEND_DATA and
   FILE_SHARE_READ | FILE_SHARE_WRITE) in one write. */
static inline void WriteLine(HANDLE file, struct Line* line) {
  line->text[line->length++] = '\n';
  const HANDLE mutex = CreateMutexW(NULL, FALSE, LOG_MUTEX);
  if (mutex != NULL) WaitForSingleObject(mutex, INFINITE); /* abandoned is owned too */
  DWORD written = 0;
  WriteFile(file, line->text, (DWORD)line->length, &written, NULL);
  if (mutex != NULL) {
    ReleaseMutex(mutex);
    CloseHandle(mutex);
  }
}

/* --- Profile folders -------------------------------------------------------- */

/* Removes the folder PATH (without a trailing backslash) and everything in
   it. Returns 0 or the first failure. */
static inline DWORD RemoveTree(const wchar_t* path) {
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

#endif
