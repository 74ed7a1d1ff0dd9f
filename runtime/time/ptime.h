// Time and date utilities: full and compact time records, calendar seconds, local and universal
// conversion, stamps, month names, delays, sleeps, wall and process times.
//
// Second counts are 64-bit on both platforms, so dates from 2038-01-19 on convert correctly.
#pragma once
#include "platform/kel_base.h"

KEL_BEGIN_C
// A full time record: the standard library's broken-down fields, with tm_is_local where it
// keeps the weekday.
typedef struct ptime {
  int32_t seconds, minutes, hours, day, month, year;  // month 0-11, year since 1900
  int32_t tm_is_local;                                // 1 local time, 0 universal time
  int32_t spare;
  int32_t dst;
} ptime;

// A compact date record; zone is minutes to add when converting, 9999 for none.
typedef struct pdate {
  uint8_t seconds, minutes, hours, day;
  int8_t month;
  uint8_t dst;
  int16_t year;
  int32_t zone;
} pdate;
#define PDATE_NO_ZONE 9999

// Seconds since 1970-01-01 00:00 of the first six fields taken as universal time; 0 for years
// before 1970 (and for a month outside 0-11).
int64_t ptime_to_seconds(const ptime* record);
int64_t pdate_to_seconds(const pdate* record);
int is_leap_year(int year);
int day_of_year(int year, int month, int day);

// Current time plus the offset, universal or local; into `record` or a process-wide record.
// Null when the current time is not positive.
ptime* ptime_now_utc(ptime* record);
ptime* ptime_now_local(ptime* record);
int ptime_set_offset(int64_t seconds);
ptime* ptime_from_seconds(ptime* record, int64_t seconds);
int ptime_to_local(const ptime* record, ptime* out);
int ptime_to_utc(const ptime* record, ptime* out);
int64_t ptime_difference(const ptime* a, const ptime* b);
int ptime_compare(const ptime* a, const ptime* b);
// Local time of *seconds (the current time when null or 0), written back into *seconds.
int pdate_now(pdate* record, int64_t* seconds);
int pdate_to_ptime(const pdate* compact, ptime* full);

// The size of every stamp and date-text buffer below, and of the clock's own text.
enum { TIME_TEXT_SIZE = 32 };

// Stamps; each buffer holds at least TIME_TEXT_SIZE bytes.
char* time_stamp_short(char* buffer);
char* time_text_now(char* buffer);
char* time_stamp_compact(char* buffer);
int today_ymd(int* year, int* month, int* day);
int month_number(char* text);
const char* month_name(int number);
const char* month_abbrev(int number);
// "1-Jan-99 12:00:00" for years before 2000; from 2000 on the year has four digits
// ("1-Jan-2002 12:00:00"), which pdate_parse reads back. The buffer holds TIME_TEXT_SIZE bytes.
int pdate_format(const pdate* record, char* buffer);
int pdate_parse(const char* text, pdate* record);

int spg_delay(int tenths);
int sleep_seconds(int seconds);
int sleep_microseconds(int microseconds);
int sleep_sec_usec(int seconds, int microseconds);
int wall_time(int64_t out[2]);
double wall_seconds(void);
int process_kernel_time(int32_t out[2]);
int process_user_time(int32_t out[2]);
int32_t random_int32(void);

// Stand-ins for tests: the current time in seconds since 1970 (universal) that the current-time
// records, the stamps and today_ymd read, and the millisecond counter spg_delay waits on. Each
// setter returns the one it replaces; null puts back the platform's.
typedef int64_t (*ptime_clock_fn)(void);
ptime_clock_fn ptime_clock_set(ptime_clock_fn seconds_now);
ptime_clock_fn ptime_delay_clock_set(ptime_clock_fn milliseconds_now);
KEL_END_C
