// Times of the Linux platform layer: FILETIME (100-nanosecond ticks since 1601-01-01 UTC), calendar
// fields, DOS date and time, and local time. As on the platform, the conversions between local and UTC
// FILETIMEs apply the offset from UTC in force now (from the TZ rules), not the one of the date
// converted.
#include <time.h>

#include "platform/host/win32_api.h"

namespace {

const int64_t TICKS_PER_SECOND = 10000000;
const int64_t UNIX_EPOCH_TICKS = 116444736000000000LL; // 1970-01-01 in FILETIME ticks

int64_t Ticks(const FILETIME *t) { return (int64_t)(((uint64_t)t->dwHighDateTime << 32) | t->dwLowDateTime); }

void SetTicks(FILETIME *t, int64_t ticks) {
  t->dwLowDateTime = (DWORD)((uint64_t)ticks & 0xFFFFFFFFu);
  t->dwHighDateTime = (DWORD)((uint64_t)ticks >> 32);
}

bool IsLeap(int year) { return (year % 4 == 0 && year % 100 != 0) || year % 400 == 0; }

int DaysInMonth(int year, int month) {
  static const int days[12] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
  return month == 2 && IsLeap(year) ? 29 : days[month - 1];
}

// Days from 1970-01-01 to the given civil date (proleptic Gregorian).
int64_t DaysFromCivil(int64_t y, int m, int d) {
  y -= m <= 2;
  int64_t era = (y >= 0 ? y : y - 399) / 400;
  int64_t yoe = y - era * 400;
  int64_t doy = (153 * (m + (m > 2 ? -3 : 9)) + 2) / 5 + d - 1;
  int64_t doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
  return era * 146097 + doe - 719468;
}

void CivilFromDays(int64_t z, int *year, int *month, int *day) {
  z += 719468;
  int64_t era = (z >= 0 ? z : z - 146096) / 146097;
  int64_t doe = z - era * 146097;
  int64_t yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
  int64_t y = yoe + era * 400;
  int64_t doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
  int64_t mp = (5 * doy + 2) / 153;
  int d = (int)(doy - (153 * mp + 2) / 5 + 1);
  int m = (int)(mp < 10 ? mp + 3 : mp - 9);
  *year = (int)(y + (m <= 2));
  *month = m;
  *day = d;
}

bool FieldsToTicks(int year, int month, int day, int hour, int minute, int second, int ms, int64_t *ticks) {
  if (year < 1601 || year > 30827 || month < 1 || month > 12 || day < 1 || day > DaysInMonth(year, month) ||
      hour < 0 || hour > 23 || minute < 0 || minute > 59 || second < 0 || second > 59 || ms < 0 || ms > 999)
    return false;
  int64_t seconds = DaysFromCivil(year, month, day) * 86400 + hour * 3600 + minute * 60 + second;
  *ticks = seconds * TICKS_PER_SECOND + (int64_t)ms * 10000 + UNIX_EPOCH_TICKS;
  return true;
}

// Local time minus UTC, in seconds, as in force now.
int64_t CurrentBias() {
  time_t now = time(nullptr);
  struct tm local;
  localtime_r(&now, &local);
  return (int64_t)timegm(&local) - (int64_t)now;
}

} // namespace

BOOL SystemTimeToFileTime(const SYSTEMTIME *st, LPFILETIME ft) {
  int64_t ticks;
  if (!FieldsToTicks(st->wYear, st->wMonth, st->wDay, st->wHour, st->wMinute, st->wSecond, st->wMilliseconds,
                     &ticks)) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return FALSE;
  }
  SetTicks(ft, ticks);
  return TRUE;
}

BOOL FileTimeToSystemTime(const FILETIME *ft, LPSYSTEMTIME st) {
  int64_t ticks = Ticks(ft);
  if (ticks < 0) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return FALSE;
  }
  int64_t sinceEpoch = ticks - UNIX_EPOCH_TICKS;
  int64_t seconds = sinceEpoch >= 0 ? sinceEpoch / TICKS_PER_SECOND
                                    : -((-sinceEpoch + TICKS_PER_SECOND - 1) / TICKS_PER_SECOND);
  int64_t rest = sinceEpoch - seconds * TICKS_PER_SECOND;
  int64_t days = seconds >= 0 ? seconds / 86400 : -((-seconds + 86399) / 86400);
  int64_t secondOfDay = seconds - days * 86400;
  int year, month, day;
  CivilFromDays(days, &year, &month, &day);
  st->wYear = (WORD)year;
  st->wMonth = (WORD)month;
  st->wDay = (WORD)day;
  st->wDayOfWeek = (WORD)(((days % 7) + 7 + 4) % 7); // 1970-01-01 was a Thursday
  st->wHour = (WORD)(secondOfDay / 3600);
  st->wMinute = (WORD)(secondOfDay / 60 % 60);
  st->wSecond = (WORD)(secondOfDay % 60);
  st->wMilliseconds = (WORD)(rest / 10000);
  return TRUE;
}

BOOL DosDateTimeToFileTime(WORD date, WORD time, LPFILETIME ft) {
  int64_t ticks;
  if (!FieldsToTicks(1980 + (date >> 9), (date >> 5) & 15, date & 31, time >> 11, (time >> 5) & 63,
                     (time & 31) * 2, 0, &ticks)) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return FALSE;
  }
  SetTicks(ft, ticks);
  return TRUE;
}

BOOL FileTimeToDosDateTime(const FILETIME *ft, WORD *date, WORD *time) {
  SYSTEMTIME st;
  if (!FileTimeToSystemTime(ft, &st) || st.wYear < 1980 || st.wYear > 2107) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return FALSE;
  }
  *date = (WORD)(((st.wYear - 1980) << 9) | (st.wMonth << 5) | st.wDay);
  *time = (WORD)((st.wHour << 11) | (st.wMinute << 5) | (st.wSecond / 2));
  return TRUE;
}

BOOL LocalFileTimeToFileTime(const FILETIME *local, LPFILETIME utc) {
  SetTicks(utc, Ticks(local) - CurrentBias() * TICKS_PER_SECOND);
  return TRUE;
}

BOOL FileTimeToLocalFileTime(const FILETIME *utc, LPFILETIME local) {
  SetTicks(local, Ticks(utc) + CurrentBias() * TICKS_PER_SECOND);
  return TRUE;
}

LONG CompareFileTime(const FILETIME *a, const FILETIME *b) {
  uint64_t x = ((uint64_t)a->dwHighDateTime << 32) | a->dwLowDateTime;
  uint64_t y = ((uint64_t)b->dwHighDateTime << 32) | b->dwLowDateTime;
  return x < y ? -1 : x > y ? 1 : 0;
}
