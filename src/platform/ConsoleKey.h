// One keystroke from the console for the confirmation prompt.
#pragma once

#include <cstdint>

#include "platform/Platform.h"

namespace wf {

// Returns the key's code (0 to 255) and echoes it on the console output, or
// -1 when no key can be read (no console, a failed read or echo). A key
// without a character that has a two-part code (function, arrow and editing
// keys) returns the first part, 0 or 224, and leaves the second part
// pending: the next call returns it at once, without waiting or echoing.
// Keys without such a code (Shift, Ctrl or Alt alone) are skipped.
int32_t ReadConsoleKey(Platform& platform);

// Drops the pending second part of a two-part key code, if any: a prompt
// that takes one keystroke leaves nothing behind for the next prompt.
void DiscardPendingConsoleKey();

// Forgets the console handles and any pending code (a fresh process).
void ResetConsoleKey();

// The two-part code of a key without a character, by scan code, enhanced
// flag and modifier state (Alt over Ctrl over Shift). Returns false when
// the key has none.
bool LookupTwoPartKey(uint16_t scanCode, uint32_t controlKeyState, uint8_t* first, uint8_t* second);

}  // namespace wf
