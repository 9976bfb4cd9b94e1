#include "sim/SimText.h"

namespace wf::sim {

char16_t FoldUpper(char16_t c) {
  if (c < 0x80) {
    return (c >= u'a' && c <= u'z') ? static_cast<char16_t>(c - 0x20) : c;
  }
  // Latin-1: à..þ except ÷; ÿ pairs with Ÿ.
  if (c >= 0xE0 && c <= 0xFE && c != 0xF7) return static_cast<char16_t>(c - 0x20);
  if (c == 0xFF) return 0x178;
  // Greek small letters (final sigma folds like sigma).
  if (c == 0x3C2) return 0x3A3;
  if (c >= 0x3B1 && c <= 0x3C9) return static_cast<char16_t>(c - 0x20);
  // Cyrillic: а..я and ѐ..џ.
  if (c >= 0x430 && c <= 0x44F) return static_cast<char16_t>(c - 0x20);
  if (c >= 0x450 && c <= 0x45F) return static_cast<char16_t>(c - 0x50);
  return c;
}

std::u16string FoldUpper(std::u16string_view text) {
  std::u16string folded(text);
  for (char16_t& c : folded) c = FoldUpper(c);
  return folded;
}

int CompareNoCase(std::u16string_view a, std::u16string_view b) {
  const size_t n = a.size() < b.size() ? a.size() : b.size();
  for (size_t i = 0; i < n; ++i) {
    const char16_t x = FoldUpper(a[i]);
    const char16_t y = FoldUpper(b[i]);
    if (x != y) return x < y ? -1 : 1;
  }
  if (a.size() == b.size()) return 0;
  return a.size() < b.size() ? -1 : 1;
}

bool EqualNoCase(std::u16string_view a, std::u16string_view b) {
  return a.size() == b.size() && CompareNoCase(a, b) == 0;
}

std::u16string FromUtf8(std::string_view text) {
  std::u16string out;
  size_t i = 0;
  while (i < text.size()) {
    const auto lead = static_cast<unsigned char>(text[i]);
    uint32_t cp = 0;
    size_t extra = 0;
    if (lead < 0x80) {
      cp = lead;
    } else if (lead >= 0xC2 && lead <= 0xDF) {
      cp = lead & 0x1Fu;
      extra = 1;
    } else if (lead >= 0xE0 && lead <= 0xEF) {
      cp = lead & 0x0Fu;
      extra = 2;
    } else if (lead >= 0xF0 && lead <= 0xF4) {
      cp = lead & 0x07u;
      extra = 3;
    } else {
      out.push_back(0xFFFD);
      ++i;
      continue;
    }
    bool ok = i + extra < text.size();
    for (size_t k = 1; ok && k <= extra; ++k) {
      const auto next = static_cast<unsigned char>(text[i + k]);
      if ((next & 0xC0u) != 0x80u) {
        ok = false;
      } else {
        cp = (cp << 6) | (next & 0x3Fu);
      }
    }
    // Overlong forms, surrogates and values past U+10FFFF are malformed.
    if (ok && ((extra == 2 && cp < 0x800) || (extra == 3 && (cp < 0x10000 || cp > 0x10FFFF)) ||
               (cp >= 0xD800 && cp <= 0xDFFF))) {
      ok = false;
    }
    if (!ok) {
      out.push_back(0xFFFD);
      ++i;
      continue;
    }
    if (cp >= 0x10000) {
      cp -= 0x10000;
      out.push_back(static_cast<char16_t>(0xD800 + (cp >> 10)));
      out.push_back(static_cast<char16_t>(0xDC00 + (cp & 0x3FFu)));
    } else {
      out.push_back(static_cast<char16_t>(cp));
    }
    i += extra + 1;
  }
  return out;
}

std::string ToUtf8(std::u16string_view text) {
  std::string out;
  for (size_t i = 0; i < text.size(); ++i) {
    uint32_t cp = text[i];
    if (cp >= 0xD800 && cp <= 0xDBFF && i + 1 < text.size() && text[i + 1] >= 0xDC00 &&
        text[i + 1] <= 0xDFFF) {
      cp = 0x10000 + ((cp - 0xD800) << 10) + (text[i + 1] - 0xDC00u);
      ++i;
    } else if (cp >= 0xD800 && cp <= 0xDFFF) {
      cp = 0xFFFD;
    }
    if (cp < 0x80) {
      out.push_back(static_cast<char>(cp));
    } else if (cp < 0x800) {
      out.push_back(static_cast<char>(0xC0 | (cp >> 6)));
      out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
    } else if (cp < 0x10000) {
      out.push_back(static_cast<char>(0xE0 | (cp >> 12)));
      out.push_back(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
      out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
    } else {
      out.push_back(static_cast<char>(0xF0 | (cp >> 18)));
      out.push_back(static_cast<char>(0x80 | ((cp >> 12) & 0x3F)));
      out.push_back(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
      out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
    }
  }
  return out;
}

namespace {

// Days between 1 January 1601 and 1 January 1970.
constexpr int64_t kDays1601To1970 = 134'774;

// Days since 1 January 1970 of a proleptic Gregorian date (H. Hinnant's
// algorithm: years counted from March so that the leap day comes last).
int64_t DaysFromCivil(int64_t year, int64_t month, int64_t day) {
  year -= month <= 2 ? 1 : 0;
  const int64_t era = (year >= 0 ? year : year - 399) / 400;
  const int64_t yearOfEra = year - era * 400;
  const int64_t dayOfYear = (153 * (month + (month > 2 ? -3 : 9)) + 2) / 5 + day - 1;
  const int64_t dayOfEra = yearOfEra * 365 + yearOfEra / 4 - yearOfEra / 100 + dayOfYear;
  return era * 146'097 + dayOfEra - 719'468;
}

void CivilFromDays(int64_t days, int64_t* year, int64_t* month, int64_t* day) {
  days += 719'468;
  const int64_t era = (days >= 0 ? days : days - 146'096) / 146'097;
  const int64_t dayOfEra = days - era * 146'097;
  const int64_t yearOfEra =
      (dayOfEra - dayOfEra / 1460 + dayOfEra / 36'524 - dayOfEra / 146'096) / 365;
  const int64_t dayOfYear = dayOfEra - (365 * yearOfEra + yearOfEra / 4 - yearOfEra / 100);
  const int64_t monthIndex = (5 * dayOfYear + 2) / 153;
  *day = dayOfYear - (153 * monthIndex + 2) / 5 + 1;
  *month = monthIndex < 10 ? monthIndex + 3 : monthIndex - 9;
  *year = yearOfEra + era * 400 + (*month <= 2 ? 1 : 0);
}

bool IsLeapYear(int64_t year) {
  return (year % 4 == 0 && year % 100 != 0) || year % 400 == 0;
}

int64_t DaysInMonth(int64_t year, int64_t month) {
  static constexpr int64_t kDays[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
  return month == 2 && IsLeapYear(year) ? 29 : kDays[month - 1];
}

}  // namespace

bool CalendarToFileTime(const SystemTime& calendar, FileTime* time) {
  if (calendar.year < 1601 || calendar.year > 30827 || calendar.month < 1 || calendar.month > 12 ||
      calendar.day < 1 || calendar.day > DaysInMonth(calendar.year, calendar.month) ||
      calendar.hour > 23 || calendar.minute > 59 || calendar.second > 59 ||
      calendar.milliseconds > 999) {
    return false;
  }
  const int64_t days = DaysFromCivil(calendar.year, calendar.month, calendar.day) + kDays1601To1970;
  const uint64_t seconds = static_cast<uint64_t>(days) * 86'400 +
                           static_cast<uint64_t>(calendar.hour) * 3600u +
                           static_cast<uint64_t>(calendar.minute) * 60u + calendar.second;
  *time = seconds * kTicksPerSecond + calendar.milliseconds * 10'000ull;
  return true;
}

bool FileTimeToCalendar(FileTime time, SystemTime* calendar) {
  if (time >= 0x8000000000000000ull) return false;
  const auto days = static_cast<int64_t>(time / kTicksPerDay);
  const uint64_t rest = time % kTicksPerDay;
  int64_t year = 0;
  int64_t month = 0;
  int64_t day = 0;
  CivilFromDays(days - kDays1601To1970, &year, &month, &day);
  calendar->year = static_cast<uint16_t>(year);
  calendar->month = static_cast<uint16_t>(month);
  calendar->day = static_cast<uint16_t>(day);
  // 1 January 1601 was a Monday.
  calendar->dayOfWeek = static_cast<uint16_t>((days + 1) % 7);
  calendar->hour = static_cast<uint16_t>(rest / (3600 * kTicksPerSecond));
  calendar->minute = static_cast<uint16_t>(rest / kTicksPerMinute % 60);
  calendar->second = static_cast<uint16_t>(rest / kTicksPerSecond % 60);
  calendar->milliseconds = static_cast<uint16_t>(rest / 10'000 % 1000);
  return true;
}

}  // namespace wf::sim
