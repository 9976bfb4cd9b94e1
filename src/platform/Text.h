// Bounded UTF-16 text: fixed-capacity buffers whose copies cut and always
// terminate. Capacities count the terminator. Nothing here allocates.
#pragma once

#include <cstddef>
#include <cstdint>

namespace wf {

// Names, paths and registry texts: 260 characters and the terminator.
inline constexpr size_t kPathChars = 261;
// Skip list and system error texts: 1023 characters and the terminator.
inline constexpr size_t kLongTextChars = 1024;

// Length of a terminated text; a null pointer counts as empty.
constexpr size_t TextLength(const char16_t* text) {
  size_t n = 0;
  if (text == nullptr) return 0;
  while (text[n] != 0) ++n;
  return n;
}

// Copies at most maxChars characters of src into dst (capacity dstChars,
// terminator included) and terminates; returns the length written.
// A zero capacity writes nothing.
inline size_t CopyText(char16_t* dst, size_t dstChars, const char16_t* src,
                       size_t maxChars = SIZE_MAX) {
  if (dstChars == 0) return 0;
  size_t limit = dstChars - 1;
  if (maxChars < limit) limit = maxChars;
  size_t n = 0;
  if (src != nullptr) {
    while (n < limit && src[n] != 0) {
      dst[n] = src[n];
      ++n;
    }
  }
  dst[n] = 0;
  return n;
}

// Appends src to the terminated text in dst, cut to the capacity.
inline size_t AppendText(char16_t* dst, size_t dstChars, const char16_t* src) {
  if (dstChars == 0) return 0;
  size_t used = 0;
  while (used < dstChars - 1 && dst[used] != 0) ++used;
  return used + CopyText(dst + used, dstChars - used, src);
}

// Copies narrow 8-bit text, each byte becoming the character of that value.
inline size_t CopyNarrowText(char16_t* dst, size_t dstChars, const char* src) {
  if (dstChars == 0) return 0;
  size_t n = 0;
  if (src != nullptr) {
    while (n + 1 < dstChars && src[n] != 0) {
      dst[n] = static_cast<unsigned char>(src[n]);
      ++n;
    }
  }
  dst[n] = 0;
  return n;
}

constexpr char16_t FoldAZ(char16_t c) {
  return (c >= u'A' && c <= u'Z') ? static_cast<char16_t>(c - u'A' + u'a') : c;
}

// Whole-text comparison, folding only the letters A to Z.
constexpr bool EqualsNoCase(const char16_t* a, const char16_t* b) {
  if (a == nullptr) a = u"";
  if (b == nullptr) b = u"";
  for (;; ++a, ++b) {
    if (FoldAZ(*a) != FoldAZ(*b)) return false;
    if (*a == 0) return true;
  }
}

// True when text begins with prefix, folding only A to Z.
constexpr bool StartsWithNoCase(const char16_t* text, const char16_t* prefix) {
  for (; *prefix != 0; ++text, ++prefix) {
    if (*text == 0 || FoldAZ(*text) != FoldAZ(*prefix)) return false;
  }
  return true;
}

constexpr bool Equals(const char16_t* a, const char16_t* b) {
  for (;; ++a, ++b) {
    if (*a != *b) return false;
    if (*a == 0) return true;
  }
}

constexpr bool Contains(const char16_t* text, char16_t c) {
  for (; *text != 0; ++text) {
    if (*text == c) return true;
  }
  return false;
}

// A terminated UTF-16 text of fixed capacity (terminator included).
template <size_t Capacity>
struct Text {
  static_assert(Capacity >= 1);
  static constexpr size_t kCapacity = Capacity;
  char16_t chars[Capacity] = {};

  void Clear() {
    for (char16_t& c : chars) c = 0;
  }
  size_t Assign(const char16_t* src, size_t maxChars = SIZE_MAX) {
    return CopyText(chars, Capacity, src, maxChars);
  }
  size_t Append(const char16_t* src) { return AppendText(chars, Capacity, src); }
  size_t Length() const { return TextLength(chars); }
  bool Empty() const { return chars[0] == 0; }
  char16_t* Data() { return chars; }
  const char16_t* Data() const { return chars; }
  // Bytes of the whole buffer, as offered to registry reads.
  static constexpr uint32_t ByteSize() {
    return static_cast<uint32_t>(Capacity * sizeof(char16_t));
  }
};

using PathText = Text<kPathChars>;
using LongText = Text<kLongTextChars>;

}  // namespace wf
