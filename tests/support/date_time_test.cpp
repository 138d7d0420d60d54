// Calendar: month lengths and the file-time round trip.
#include "support/date_time.h"

#include <gtest/gtest.h>

namespace {

TEST(DateTime, DaysInMonth) {
  struct Case {
    int month, year, days;
  };
  const Case cases[] = {{2, 1900, 28}, {2, 2000, 29}, {2, 2024, 29}, {2, 2023, 28}, {13, 2024, 31},
                        {0, 2024, 31}, {-1, 2024, 31}, {1, 2024, 31}, {4, 2024, 30}, {12, 2024, 31},
                        {9, 2024, 30}, {8, 2024, 31}};
  for (const Case& c : cases) EXPECT_EQ(CDateTime::DaysInMonth(c.month, c.year), c.days) << c.month << "/" << c.year;
}

TEST(DateTime, FileTimeToFields) {
  struct Case {
    int64_t fileTime;
    int y, mo, d, h, mi, s, ms, dow;
  };
  const Case cases[] = {
      {0, 1601, 1, 1, 0, 0, 0, 0, 1},
      // 1970-01-01 00:00:00, a Thursday
      {116444736000000000LL, 1970, 1, 1, 0, 0, 0, 0, 4},
      // 2024-01-31 09:05:03.042
      {133511655030420000LL, 2024, 1, 31, 9, 5, 3, 42, 3},
      // 2000-02-29 23:59:59.999, leap day
      {125963423999990000LL, 2000, 2, 29, 23, 59, 59, 999, 2},
  };
  for (const Case& c : cases) {
    CDateTime dt;
    ASSERT_EQ(dt.SetFileTime(c.fileTime), 1);
    EXPECT_EQ(dt.m_wYear, c.y);
    EXPECT_EQ(dt.m_wMonth, c.mo);
    EXPECT_EQ(dt.m_wDay, c.d);
    EXPECT_EQ(dt.m_wHour, c.h);
    EXPECT_EQ(dt.m_wMinute, c.mi);
    EXPECT_EQ(dt.m_wSecond, c.s);
    EXPECT_EQ(dt.m_wMilliseconds, c.ms);
    EXPECT_EQ(dt.m_wDayOfWeek, c.dow);
    EXPECT_EQ(dt.m_nDaysInMonth, CDateTime::DaysInMonth(c.mo, c.y));
    // back to the file time, to the millisecond
    EXPECT_EQ(dt.m_nFileTime, c.fileTime / 10000 * 10000);
  }
}

}  // namespace
