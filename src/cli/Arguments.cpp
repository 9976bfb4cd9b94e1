#include "cli/Arguments.h"

#include "platform/Text.h"

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

int32_t ParseMinimumAge(const char16_t* value) {
  char16_t digits[6] = {};
  CopyText(digits, sizeof digits / sizeof digits[0], value, 5);
  const int64_t days = ParseDecimalSigned(digits);
  return days >= 1 ? static_cast<int32_t>(days) : kMinimumAgeNotGiven;
}

bool IsComputerArgument(const char16_t* argument) {
  return argument[0] == u'\\' && argument[1] == u'\\' && argument[2] != 0;
}

ArgumentsResult ReadArguments(int argc, const char16_t* const* argv, RunSettings& settings) {
  ArgumentsResult result;
  for (int i = 1; i < argc; ++i) {
    const char16_t* arg = argv[i];
    if (Equals(arg, u"/?") || Equals(arg, u"-?")) {
      result.outcome = ArgumentsOutcome::HelpRequested;
      return result;
    }
    if (Equals(arg, u"/TraceAll") || Equals(arg, u"-TraceAll")) {
      settings.Trace = 1;
    } else if (StartsWithNoCase(arg, u"/MIN:") || StartsWithNoCase(arg, u"-MIN:")) {
      settings.MinimumAge = ParseMinimumAge(arg + 5);
    } else if (StartsWithNoCase(arg, u"/SKIP:") || StartsWithNoCase(arg, u"-SKIP:")) {
      settings.SkipNames.Assign(arg + 6);
    } else if (EqualsNoCase(arg, u"/y") || EqualsNoCase(arg, u"-y")) {
      settings.Confirm = 0;
    } else if (EqualsNoCase(arg, u"/r") || EqualsNoCase(arg, u"-r")) {
      settings.RoamingOnly = 1;
    } else if (IsComputerArgument(arg)) {
      result.listMode = true;
    } else {
      result.outcome = ArgumentsOutcome::InvalidSwitch;
      result.invalidArgument = arg;
      return result;
    }
  }
  return result;
}

}  // namespace wf
