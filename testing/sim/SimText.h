// Text helpers of the simulation: the case folding that Windows applies to
// registry and file names, UTF-8 conversion, and the calendar of file times.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "platform/Platform.h"

namespace wf::sim {

// Upper-cases a character the way name comparisons on Windows do: ASCII,
// Latin-1, Greek and Cyrillic letters; every other character is itself.
char16_t FoldUpper(char16_t c);
std::u16string FoldUpper(std::u16string_view text);

// Case-insensitive ordering of names; also the order in which Windows
// enumerates registry subkeys.
int CompareNoCase(std::u16string_view a, std::u16string_view b);
bool EqualNoCase(std::u16string_view a, std::u16string_view b);
struct NoCaseLess {
  using is_transparent = void;
  bool operator()(std::u16string_view a, std::u16string_view b) const {
    return CompareNoCase(a, b) < 0;
  }
};

// UTF-8 to UTF-16 and back; malformed input becomes U+FFFD.
std::u16string FromUtf8(std::string_view text);
std::string ToUtf8(std::u16string_view text);

// A terminated UTF-16 text as a string view (null is empty).
inline std::u16string_view View(const char16_t* text) {
  return text == nullptr ? std::u16string_view() : std::u16string_view(text);
}

// File-time ticks.
inline constexpr uint64_t kTicksPerSecond = 10'000'000;
inline constexpr uint64_t kTicksPerMinute = 60 * kTicksPerSecond;
inline constexpr uint64_t kTicksPerDay = 86'400 * kTicksPerSecond;

// Gregorian calendar date and time to a file time; false when the fields are
// out of range or the date lies before 1601.
bool CalendarToFileTime(const SystemTime& calendar, FileTime* time);
// File time to its calendar form, with the day of the week (0 = Sunday);
// false for values of 0x8000000000000000 and above, as Windows refuses them.
bool FileTimeToCalendar(FileTime time, SystemTime* calendar);

}  // namespace wf::sim
