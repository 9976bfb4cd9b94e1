// Standard output, the console devices of the prompt key, and the system's
// message texts.
#include "platform/Text.h"
#include "platform/win32/Win32Api.h"
#include "platform/win32/Win32Platform.h"

namespace wf {

using win32::Wide;

bool Win32Platform::StandardOutputIsConsole() {
  const HANDLE output = ::GetStdHandle(STD_OUTPUT_HANDLE);
  if (output == nullptr || output == INVALID_HANDLE_VALUE) return false;
  return ::GetFileType(output) == FILE_TYPE_CHAR;
}

bool Win32Platform::WriteStandardOutput(const char* bytes, size_t count) {
  const HANDLE output = ::GetStdHandle(STD_OUTPUT_HANDLE);
  if (output == nullptr || output == INVALID_HANDLE_VALUE) return false;
  while (count > 0) {
    const DWORD chunk = count > 0x10000000u ? 0x10000000u : static_cast<DWORD>(count);
    DWORD written = 0;
    if (!::WriteFile(output, bytes, chunk, &written, nullptr) || written == 0) return false;
    bytes += written;
    count -= written;
  }
  return true;
}

bool Win32Platform::OpenConsoleInput() {
  if (!consoleInputTried_) {
    consoleInputTried_ = true;
    const HANDLE input =
        ::CreateFileW(L"CONIN$", GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                      nullptr, OPEN_EXISTING, 0, nullptr);
    if (input != INVALID_HANDLE_VALUE) consoleInput_ = input;
  }
  return consoleInput_ != nullptr;
}

bool Win32Platform::GetConsoleInputMode(uint32_t* mode) {
  if (consoleInput_ == nullptr) return false;
  DWORD current = 0;
  if (!::GetConsoleMode(consoleInput_, &current)) return false;
  *mode = current;
  return true;
}

bool Win32Platform::SetConsoleInputMode(uint32_t mode) {
  if (consoleInput_ == nullptr) return false;
  return ::SetConsoleMode(consoleInput_, mode) != FALSE;
}

bool Win32Platform::ReadConsoleInput(ConsoleInputEvent* event) {
  if (consoleInput_ == nullptr) return false;
  INPUT_RECORD record;
  DWORD read = 0;
  if (!::ReadConsoleInputA(consoleInput_, &record, 1, &read) || read != 1) return false;
  *event = ConsoleInputEvent{};
  event->isKeyEvent = record.EventType == KEY_EVENT;
  if (event->isKeyEvent) {
    const KEY_EVENT_RECORD& key = record.Event.KeyEvent;
    event->keyDown = key.bKeyDown != FALSE;
    event->character = static_cast<uint8_t>(key.uChar.AsciiChar);
    event->scanCode = key.wVirtualScanCode;
    event->controlKeyState = key.dwControlKeyState;
  }
  return true;
}

bool Win32Platform::OpenConsoleOutput() {
  if (!consoleOutputTried_) {
    consoleOutputTried_ = true;
    const HANDLE output =
        ::CreateFileW(L"CONOUT$", GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                      OPEN_EXISTING, 0, nullptr);
    if (output != INVALID_HANDLE_VALUE) consoleOutput_ = output;
  }
  return consoleOutput_ != nullptr;
}

bool Win32Platform::WriteConsoleByte(uint8_t byte) {
  if (consoleOutput_ == nullptr) return false;
  const char text = static_cast<char>(byte);
  DWORD written = 0;
  return ::WriteConsoleA(consoleOutput_, &text, 1, &written, nullptr) && written == 1;
}

namespace {

// The network messages module, by its full path in the system folder: a
// module found by the search order could be any file of that name.
HMODULE LoadNetworkMessages() {
  static constexpr wchar_t kModule[] = L"\\netmsg.dll";
  constexpr UINT kModuleChars = sizeof kModule / sizeof kModule[0];
  wchar_t path[MAX_PATH + kModuleChars] = {};
  const UINT length = ::GetSystemDirectoryW(path, MAX_PATH);
  if (length == 0 || length >= MAX_PATH) return nullptr;
  for (UINT i = 0; i < kModuleChars; ++i) path[length + i] = kModule[i];
  return ::LoadLibraryExW(path, nullptr, LOAD_LIBRARY_AS_DATAFILE);
}

}  // namespace

void Win32Platform::GetSystemErrorText(uint32_t error, char16_t* buffer, uint32_t capacity) {
  if (capacity == 0) return;
  buffer[0] = 0;

  // The network error numbers have their texts in the network messages
  // module; its table is searched before the system's. The module is
  // loaded for its resources only.
  HMODULE messages = nullptr;
  if (error >= 2100 && error < 3000) messages = LoadNetworkMessages();

  DWORD flags =
      FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_IGNORE_INSERTS | FORMAT_MESSAGE_FROM_SYSTEM;
  if (messages != nullptr) flags |= FORMAT_MESSAGE_FROM_HMODULE;
  wchar_t* text = nullptr;
  const DWORD length =
      ::FormatMessageW(flags, messages, error, MAKELANGID(LANG_NEUTRAL, SUBLANG_DEFAULT),
                       reinterpret_cast<wchar_t*>(&text), 0, nullptr);
  if (length != 0 && text != nullptr) {
    CopyText(buffer, capacity, reinterpret_cast<const char16_t*>(text), length);
  }
  if (text != nullptr) ::LocalFree(text);

  if (messages != nullptr) ::FreeLibrary(messages);
}

}  // namespace wf
