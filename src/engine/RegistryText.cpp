#include "engine/RegistryText.h"

namespace wf {
namespace {

// Clears the buffer and offers it whole to the query; a failed read leaves
// it empty again, since its contents are undefined then.
RegistryTextRead QueryInto(Platform& platform, RegKey key, const char16_t* valueName,
                           PathText& text, uint32_t* bytes) {
  RegistryTextRead read;
  text.Clear();
  *bytes = PathText::ByteSize();
  read.status = platform.RegQueryValueEx(key, valueName, &read.type,
                                         reinterpret_cast<uint8_t*>(text.chars), bytes);
  if (read.status != 0) {
    read.type = 0;
    text.Clear();
  }
  return read;
}

}  // namespace

RegistryTextRead ReadRegistryText(Platform& platform, RegKey key, const char16_t* valueName,
                                  PathText& text) {
  uint32_t bytes = 0;
  RegistryTextRead read = QueryInto(platform, key, valueName, text, &bytes);
  read.ok = read.status == 0 && (read.type == kRegSz || read.type == kRegExpandSz);
  if (!read.ok) {
    text.Clear();
    return read;
  }
  const size_t chars = bytes / 2;
  if (chars == 0) {
    text.chars[0] = 0;
  } else if (chars <= PathText::kCapacity) {
    text.chars[chars - 1] = 0;
  }
  text.chars[PathText::kCapacity - 1] = 0;
  return read;
}

RegistryTextRead ReadRawText(Platform& platform, RegKey key, const char16_t* valueName,
                             PathText& text) {
  uint32_t bytes = 0;
  RegistryTextRead read = QueryInto(platform, key, valueName, text, &bytes);
  read.ok = read.status == 0;
  if (read.ok) {
    const size_t chars = bytes / 2;
    text.chars[chars < PathText::kCapacity ? chars : PathText::kCapacity - 1] = 0;
  }
  return read;
}

uint32_t ExpandPath(Platform& platform, const char16_t* source, PathText& destination) {
  destination.Clear();
  const uint32_t needed = platform.ExpandEnvironmentStrings(
      source, destination.chars, static_cast<uint32_t>(PathText::kCapacity));
  destination.chars[PathText::kCapacity - 1] = 0;
  return needed;
}

}  // namespace wf
