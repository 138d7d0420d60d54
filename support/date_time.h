// CDateTime: calendar fields and the 64-bit file time (100 ns units since
// 1601-01-01) of one moment, and the length of its month.
#pragma once
#include <cstdint>

class CDateTime {
 public:
  virtual ~CDateTime() = default;

  // Sets the fields from a file time and reads the moment back from them.
  int SetFileTime(int64_t fileTime);
  static int DaysInMonth(int month, int year);
  // The local time now, as a file time (the log's stamps come from here).
  static int64_t NowLocalFileTime();

  uint16_t m_wYear = 0, m_wMonth = 0, m_wDayOfWeek = 0, m_wDay = 0;
  uint16_t m_wHour = 0, m_wMinute = 0, m_wSecond = 0, m_wMilliseconds = 0;
  int64_t m_nFileTime = 0;
  int m_nDaysInMonth = 0;
  char m_szText[64] = {};
  char16_t m_szTextW[64] = {};
};
