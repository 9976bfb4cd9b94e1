#include "engine/DecimalText.h"

namespace wf {
namespace {

constexpr bool IsSpace(char16_t c) {
  return c == u' ' || (c >= u'\t' && c <= u'\r');
}
constexpr bool IsDigit(char16_t c) {
  return c >= u'0' && c <= u'9';
}

// Skips white space and a sign; returns the first digit position.
const char16_t* SkipToDigits(const char16_t* text, bool* negative) {
  while (IsSpace(*text)) ++text;
  *negative = false;
  if (*text == u'+' || *text == u'-') {
    *negative = *text == u'-';
    ++text;
  }
  return text;
}

}  // namespace

int64_t ParseDecimalSigned(const char16_t* text) {
  bool negative = false;
  const char16_t* p = SkipToDigits(text, &negative);
  int64_t value = 0;
  // Callers pass at most a few characters; stop before the value could wrap.
  for (; IsDigit(*p) && value < 100000000000000000; ++p) value = value * 10 + (*p - u'0');
  return negative ? -value : value;
}

uint32_t ParseDecimalUnsigned(const char16_t* text) {
  bool negative = false;
  const char16_t* p = SkipToDigits(text, &negative);
  uint64_t value = 0;
  bool overflow = false;
  for (; IsDigit(*p); ++p) {
    value = value * 10 + static_cast<uint64_t>(*p - u'0');
    if (value > 0xFFFFFFFFu) {
      overflow = true;
      value = 0xFFFFFFFFu;
    }
  }
  if (overflow) return 0xFFFFFFFFu;
  const uint32_t result = static_cast<uint32_t>(value);
  return negative ? 0u - result : result;
}

}  // namespace wf
