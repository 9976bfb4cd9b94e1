// Formatted console output. Every message of the command is one
// ConsolePrint call. The formatter is the command's own, for a fixed set of
// conversions, so the bytes are the same whatever the compiler:
//
//   %s     wide text (char16_t*; null prints "(null)")
//   %S     narrow 8-bit text, each byte as the character of that value
//   %d     signed 32-bit        %u    unsigned 32-bit
//   %02u   unsigned 32-bit, at least two digits, zero-padded
//   %I64d  signed 64-bit        %I64u unsigned 64-bit
//   %%     a percent sign
//
// Formats are checked against their arguments at compile time.
//
// On the byte stream, U+0000 to U+00FF become one byte each; the first
// character above U+00FF ends that call's output. A line feed is written as
// carriage return and line feed. When standard output is a console, each
// call's bytes are written before it returns; otherwise output goes out in
// 4096-byte blocks and the rest at ConsoleFlush.
#pragma once

#include <cstddef>
#include <cstdint>
#include <type_traits>

#include "platform/Platform.h"

namespace wf {

enum class FormatKind : uint8_t { None, Wide, Narrow, Int32, UInt32, Int64, UInt64 };

struct FormatArg {
  FormatKind kind = FormatKind::None;
  union {
    const char16_t* wide;
    const char* narrow;
    int64_t signedValue;
    uint64_t unsignedValue;
  };

  constexpr FormatArg() : unsignedValue(0) {}
  constexpr FormatArg(const char16_t* text) : kind(FormatKind::Wide), wide(text) {}
  constexpr FormatArg(const char* text) : kind(FormatKind::Narrow), narrow(text) {}
  template <typename T, std::enable_if_t<std::is_integral_v<T> && !std::is_same_v<T, bool> &&
                                             (sizeof(T) == 4 || sizeof(T) == 8),
                                         int> = 0>
  constexpr FormatArg(T value) : unsignedValue(0) {
    if constexpr (std::is_signed_v<T>) {
      kind = sizeof(T) == 4 ? FormatKind::Int32 : FormatKind::Int64;
      signedValue = value;
    } else {
      kind = sizeof(T) == 4 ? FormatKind::UInt32 : FormatKind::UInt64;
      unsignedValue = value;
    }
  }
};

namespace format_detail {

template <typename T>
constexpr FormatKind KindOf() {
  using D = std::decay_t<T>;
  constexpr bool kSigned = std::is_signed_v<D>;
  if constexpr (std::is_same_v<D, const char16_t*> || std::is_same_v<D, char16_t*>) {
    return FormatKind::Wide;
  } else if constexpr (std::is_same_v<D, const char*> || std::is_same_v<D, char*>) {
    return FormatKind::Narrow;
  } else if constexpr (std::is_integral_v<D> && !std::is_same_v<D, bool> && sizeof(D) == 4) {
    return kSigned ? FormatKind::Int32 : FormatKind::UInt32;
  } else if constexpr (std::is_integral_v<D> && !std::is_same_v<D, bool> && sizeof(D) == 8) {
    return kSigned ? FormatKind::Int64 : FormatKind::UInt64;
  } else {
    return FormatKind::None;
  }
}

// Reads the conversion at text[i] (just after '%'); returns its kind and
// advances i past it. Percent signs give None with literal set.
constexpr FormatKind ReadConversion(const char16_t* text, size_t& i, bool& literal, bool& padded) {
  literal = false;
  padded = false;
  const char16_t c = text[i];
  if (c == u'%') {
    ++i;
    literal = true;
    return FormatKind::None;
  }
  if (c == u's') return ++i, FormatKind::Wide;
  if (c == u'S') return ++i, FormatKind::Narrow;
  if (c == u'd') return ++i, FormatKind::Int32;
  if (c == u'u') return ++i, FormatKind::UInt32;
  if (c == u'0' && text[i + 1] == u'2' && text[i + 2] == u'u') {
    i += 3;
    padded = true;
    return FormatKind::UInt32;
  }
  if (c == u'I' && text[i + 1] == u'6' && text[i + 2] == u'4') {
    if (text[i + 3] == u'd') return i += 4, FormatKind::Int64;
    if (text[i + 3] == u'u') return i += 4, FormatKind::UInt64;
  }
  return FormatKind::None;
}

// Not constexpr: calling it during constant evaluation fails the build.
void FormatDoesNotMatchArguments();

}  // namespace format_detail

// A format text checked against the kinds of its arguments.
template <typename... Args>
struct FormatText {
  const char16_t* text;

  consteval FormatText(const char16_t* format) : text(format) {
    constexpr FormatKind kinds[] = {format_detail::KindOf<Args>()..., FormatKind::None};
    size_t used = 0;
    for (size_t i = 0; format[i] != 0;) {
      if (format[i++] != u'%') continue;
      bool literal = false;
      bool padded = false;
      const FormatKind kind = format_detail::ReadConversion(format, i, literal, padded);
      if (literal) continue;
      if (kind == FormatKind::None || used >= sizeof...(Args) || kinds[used] != kind) {
        format_detail::FormatDoesNotMatchArguments();
      }
      ++used;
    }
    if (used != sizeof...(Args)) format_detail::FormatDoesNotMatchArguments();
  }
};

// Formats into a wide buffer of the given capacity (terminator included),
// cutting at capacity - 1; returns the length written.
size_t FormatToBuffer(char16_t* buffer, size_t capacity, const char16_t* format,
                      const FormatArg* args, size_t argCount);

template <typename... Args>
size_t FormatText16(char16_t* buffer, size_t capacity,
                    FormatText<std::type_identity_t<Args>...> format, const Args&... args) {
  const FormatArg list[] = {FormatArg(args)..., FormatArg()};
  return FormatToBuffer(buffer, capacity, format.text, list, sizeof...(Args));
}

// Process-wide console: the platform whose standard output receives the
// bytes. ConsoleAttach also resets the buffers (tests attach afresh).
void ConsoleAttach(Platform& platform);
void ConsoleFlush();

int32_t ConsolePrintArgs(const char16_t* format, const FormatArg* args, size_t argCount);

template <typename... Args>
int32_t ConsolePrint(FormatText<std::type_identity_t<Args>...> format, const Args&... args) {
  const FormatArg list[] = {FormatArg(args)..., FormatArg()};
  return ConsolePrintArgs(format.text, list, sizeof...(Args));
}

}  // namespace wf
