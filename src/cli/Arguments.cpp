#include "cli/Arguments.h"

#include "engine/DecimalText.h"
#include "platform/Text.h"

namespace wf {

int32_t ParseMinimumAge(const char16_t* value) {
  char16_t digits[6] = {};
  CopyText(digits, sizeof digits / sizeof digits[0], value, 5);
  const int64_t days = ParseDecimalSigned(digits);
  return days >= 1 ? static_cast<int32_t>(days) : kMinimumAgeNotGiven;
}

bool AddSkipNames(LongText& list, const char16_t* value) {
  const size_t valueLength = TextLength(value);
  if (valueLength == 0) return true;
  const size_t used = list.Length();
  const size_t separator = used == 0 ? 0 : 1;
  if (used + separator + valueLength > LongText::kCapacity - 1) return false;
  if (separator != 0) list.Append(u":");
  list.Append(value);
  return true;
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
      // Every list typed is kept: a cut or a replaced list would leave a
      // name unprotected without a word.
      if (!AddSkipNames(settings.SkipNames, arg + 6)) {
        result.outcome = ArgumentsOutcome::InvalidSwitch;
        result.invalidArgument = arg;
        return result;
      }
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
