#include "support/date_time.h"

#include "platform/clock.h"

namespace {

constexpr int64_t kTicksPerMs = 10000;
constexpr int64_t kMsPerDay = 86400000;

// Days from 1601-01-01 to the given date (proleptic Gregorian calendar).
int64_t DaysFrom1601(int64_t y, int64_t m, int64_t d) {
  y -= m <= 2;
  const int64_t era = (y >= 0 ? y : y - 399) / 400;
  const int64_t yoe = y - era * 400;
  const int64_t doy = (153 * (m + (m > 2 ? -3 : 9)) + 2) / 5 + d - 1;
  const int64_t doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
  const int64_t days1970 = era * 146097 + doe - 719468;
  return days1970 + 134774;  // 1601-01-01 is 134774 days before 1970-01-01
}

}  // namespace

int CDateTime::DaysInMonth(int month, int year) {
  static const int kDays[12] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
  if (month < 1 || month > 12) return 31;
  if (month == 2) return ((year % 4 == 0 && year % 100 != 0) || year % 400 == 0) ? 29 : 28;
  return kDays[month - 1];
}

int CDateTime::SetFileTime(int64_t t) {
  if (t < 0) t = 0;
  const int64_t ms = t / kTicksPerMs;
  int64_t days = ms / kMsPerDay;
  int64_t rest = ms % kMsPerDay;
  m_wDayOfWeek = uint16_t((days + 1) % 7);  // 1601-01-01 was a Monday
  // civil from days (shifted to the 0000-03-01 era base)
  const int64_t z = days - 134774 + 719468;
  const int64_t era = (z >= 0 ? z : z - 146096) / 146097;
  const int64_t doe = z - era * 146097;
  const int64_t yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
  const int64_t doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
  const int64_t mp = (5 * doy + 2) / 153;
  const int64_t d = doy - (153 * mp + 2) / 5 + 1;
  const int64_t m = mp < 10 ? mp + 3 : mp - 9;
  const int64_t y = yoe + era * 400 + (m <= 2);
  m_wYear = uint16_t(y);
  m_wMonth = uint16_t(m);
  m_wDay = uint16_t(d);
  m_wHour = uint16_t(rest / 3600000);
  rest %= 3600000;
  m_wMinute = uint16_t(rest / 60000);
  rest %= 60000;
  m_wSecond = uint16_t(rest / 1000);
  m_wMilliseconds = uint16_t(rest % 1000);
  m_nDaysInMonth = DaysInMonth(m_wMonth, m_wYear);
  m_nFileTime = (DaysFrom1601(m_wYear, m_wMonth, m_wDay) * kMsPerDay + int64_t(m_wHour) * 3600000 +
                 int64_t(m_wMinute) * 60000 + int64_t(m_wSecond) * 1000 + m_wMilliseconds) *
                kTicksPerMs;
  return 1;
}

int64_t CDateTime::NowLocalFileTime() { return qev::LocalTimeAsFileTime(); }
