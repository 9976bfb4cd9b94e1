#include "platform/ConsoleKey.h"

namespace wf {
namespace {

// Codes of a key for the plain, Shift, Ctrl and Alt states; 0 means the key
// has no code in that state.
struct KeyCodes {
  uint16_t scanCode;
  uint8_t plain;
  uint8_t shift;
  uint8_t ctrl;
  uint8_t alt;
};

// F1 to F10 and F11, F12.
constexpr KeyCodes kFunctionKeys[] = {
    {59, 59, 84, 94, 104},  {60, 60, 85, 95, 105},    {61, 61, 86, 96, 106},
    {62, 62, 87, 97, 107},  {63, 63, 88, 98, 108},    {64, 64, 89, 99, 109},
    {65, 65, 90, 100, 110}, {66, 66, 91, 101, 111},   {67, 67, 92, 102, 112},
    {68, 68, 93, 103, 113}, {87, 133, 135, 137, 139}, {88, 134, 136, 138, 140},
};

// Home, Up, PageUp, Left, Right, End, Down, PageDown, Insert, Delete: the
// dedicated keys (enhanced) and the number-pad keys without NumLock.
constexpr KeyCodes kEditingKeys[] = {
    {71, 71, 71, 119, 151}, {72, 72, 72, 141, 152}, {73, 73, 73, 134, 153}, {75, 75, 75, 115, 155},
    {77, 77, 77, 116, 157}, {79, 79, 79, 117, 159}, {80, 80, 80, 145, 160}, {81, 81, 81, 118, 161},
    {82, 82, 82, 146, 162}, {83, 83, 83, 147, 163},
};

// The number-pad 5 without NumLock has a code with Ctrl only.
constexpr KeyCodes kCenterKey = {76, 0, 0, 143, 0};

enum class Modifier { Plain, Shift, Ctrl, Alt };

Modifier ModifierOf(uint32_t state) {
  if ((state & (kLeftAltPressed | kRightAltPressed)) != 0) return Modifier::Alt;
  if ((state & (kLeftCtrlPressed | kRightCtrlPressed)) != 0) return Modifier::Ctrl;
  if ((state & kShiftPressed) != 0) return Modifier::Shift;
  return Modifier::Plain;
}

uint8_t CodeFor(const KeyCodes& key, Modifier modifier) {
  switch (modifier) {
    case Modifier::Shift:
      return key.shift;
    case Modifier::Ctrl:
      return key.ctrl;
    case Modifier::Alt:
      return key.alt;
    case Modifier::Plain:
      break;
  }
  return key.plain;
}

template <size_t N>
const KeyCodes* Find(const KeyCodes (&table)[N], uint16_t scanCode) {
  for (const KeyCodes& key : table) {
    if (key.scanCode == scanCode) return &key;
  }
  return nullptr;
}

struct KeyState {
  bool inputTried = false;
  bool inputOpen = false;
  bool outputTried = false;
  bool outputOpen = false;
  int32_t pending = -1;
};

KeyState g_keys;

bool EnsureInput(Platform& platform) {
  if (!g_keys.inputTried) {
    g_keys.inputTried = true;
    g_keys.inputOpen = platform.OpenConsoleInput();
  }
  return g_keys.inputOpen;
}

bool EnsureOutput(Platform& platform) {
  if (!g_keys.outputTried) {
    g_keys.outputTried = true;
    g_keys.outputOpen = platform.OpenConsoleOutput();
  }
  return g_keys.outputOpen;
}

// Reads events until a key press yields a code; -1 when a read fails.
int32_t ReadKeyCode(Platform& platform) {
  for (;;) {
    ConsoleInputEvent event;
    if (!platform.ReadConsoleInput(&event)) return -1;
    if (!event.isKeyEvent || !event.keyDown) continue;
    if (event.character != 0) return event.character;
    uint8_t first = 0;
    uint8_t second = 0;
    if (LookupTwoPartKey(event.scanCode, event.controlKeyState, &first, &second)) {
      g_keys.pending = second;
      return first;
    }
  }
}

}  // namespace

bool LookupTwoPartKey(uint16_t scanCode, uint32_t controlKeyState, uint8_t* first,
                      uint8_t* second) {
  const Modifier modifier = ModifierOf(controlKeyState);
  const bool enhanced = (controlKeyState & kEnhancedKey) != 0;
  uint8_t lead = 0;
  const KeyCodes* key = Find(kFunctionKeys, scanCode);
  if (key != nullptr) {
    lead = scanCode >= 87 ? 224 : 0;
  } else if ((key = Find(kEditingKeys, scanCode)) != nullptr) {
    // Alt with a number-pad key composes a character instead.
    if (!enhanced && modifier == Modifier::Alt) return false;
    lead = (enhanced && modifier != Modifier::Alt) ? 224 : 0;
  } else if (!enhanced && scanCode == kCenterKey.scanCode) {
    key = &kCenterKey;
  } else {
    return false;
  }
  const uint8_t code = CodeFor(*key, modifier);
  if (code == 0) return false;
  *first = lead;
  *second = code;
  return true;
}

int32_t ReadConsoleKey(Platform& platform) {
  if (g_keys.pending >= 0) {
    const int32_t code = g_keys.pending;
    g_keys.pending = -1;
    return code;
  }
  if (!EnsureInput(platform)) return -1;

  uint32_t savedMode = 0;
  const bool haveMode = platform.GetConsoleInputMode(&savedMode);
  // Mode 0: no line input, no echo, Ctrl+C arrives as the key with code 3.
  platform.SetConsoleInputMode(0);
  const int32_t code = ReadKeyCode(platform);
  if (haveMode) platform.SetConsoleInputMode(savedMode);

  if (code == -1) return -1;
  if (!EnsureOutput(platform) || !platform.WriteConsoleByte(static_cast<uint8_t>(code))) {
    g_keys.pending = -1;
    return -1;
  }
  return code;
}

void DiscardPendingConsoleKey() {
  g_keys.pending = -1;
}

void ResetConsoleKey() {
  g_keys = KeyState{};
}

}  // namespace wf
