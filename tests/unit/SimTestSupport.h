// Helpers shared by the tests of the simulated computers.
#pragma once

#include <gtest/gtest.h>

#include "sim/SimText.h"

namespace wf::sim {

// The file time of a UTC calendar moment.
inline FileTime At(uint16_t year, uint16_t month, uint16_t day, uint16_t hour = 0,
                   uint16_t minute = 0) {
  SystemTime calendar;
  calendar.year = year;
  calendar.month = month;
  calendar.day = day;
  calendar.hour = hour;
  calendar.minute = minute;
  FileTime time = 0;
  EXPECT_TRUE(CalendarToFileTime(calendar, &time));
  return time;
}

}  // namespace wf::sim
