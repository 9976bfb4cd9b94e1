// Reading registry texts and expanding stored paths into bounded buffers.
#pragma once

#include <cstdint>

#include "platform/Platform.h"
#include "platform/Text.h"

namespace wf {

struct RegistryTextRead {
  int32_t status = 0;  // the query's status
  uint32_t type = 0;   // the value's type (0 when the query failed)
  // Status 0 and a type of REG_SZ or REG_EXPAND_SZ: the text is usable.
  bool ok = false;
};

// Reads a text value into text: the buffer is cleared and offered whole
// (522 bytes); a usable text is cut at the returned length, so a value
// stored with its terminator keeps all its text, one stored without loses
// its last character, and fewer than 2 bytes give the empty text. Any other
// outcome (an error, ERROR_MORE_DATA, another type) leaves the text empty.
RegistryTextRead ReadRegistryText(Platform& platform, RegKey key, const char16_t* valueName,
                                  PathText& text);

// Reads a value of any type as text: the buffer is cleared and offered
// whole; the text ends at its stored terminator or right after its data,
// and data that fill the whole buffer give up their last character to the
// terminator. A failed read leaves the text empty.
RegistryTextRead ReadRawText(Platform& platform, RegKey key, const char16_t* valueName,
                             PathText& text);

// Expands the environment references of source into destination with the
// running computer's environment. The destination is cleared first and
// always ends up terminated within its capacity, whatever the platform
// writes when the result does not fit. Returns the platform's answer: the
// characters needed with the terminator, 0 when the expansion failed.
uint32_t ExpandPath(Platform& platform, const char16_t* source, PathText& destination);

// True when an answer of ExpandPath means the whole text fitted.
constexpr bool ExpansionFitted(uint32_t needed) {
  return needed != 0 && needed <= PathText::kCapacity;
}

}  // namespace wf
