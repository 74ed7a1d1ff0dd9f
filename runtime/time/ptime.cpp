// Time and date utilities.
#include "runtime/time/ptime.h"

#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include "platform/ascii.h"
#include "platform/clock.h"
#include "runtime/diag/diag.h"

namespace {

constexpr int kSecondsPerHour = 3600;
constexpr int kSecondsPerDay = 86400;
constexpr int kDaysPerYear[2] = {365, 366};
constexpr int kPtimeMonthDays[2][13] = {{0, 31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31},
                                        {0, 31, 29, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31}};
constexpr int kPdateMonthDays[2][13] = {{0, 31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31},
                                        {0, 31, 29, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31}};

// Days from 1970-01-01 to 1 January of 1970 + i, the running sum of the year lengths.
constexpr auto kDaysSince1970 = [] {
  struct {
    int days[40];
  } t{};
  for (int i = 1; i < 40; i++) {
    int y = 1969 + i;
    t.days[i] = t.days[i - 1] + ((y % 4 == 0 && y % 100 != 0) || y % 400 == 0 ? 366 : 365);
  }
  return t;
}();
static_assert(kDaysSince1970.days[39] == 14245);

constexpr const char* kMonthNames[12] = {"JANUARY",   "FEBRUARY", "MARCH",    "APRIL",
                                         "MAY",       "JUNE",     "JULY",     "AUGUST",
                                         "SEPTEMBER", "OCTOBER",  "NOVEMBER", "DECEMBER"};
constexpr const char* kMonthAbbrevs[12] = {"JAN", "FEB", "MAR", "APR", "MAY", "JUN",
                                           "JUL", "AUG", "SEP", "OCT", "NOV", "DEC"};

int64_t g_offset = 0;
ptime g_now_record;
int64_t g_delay_base = -1;
bool g_seeded = false;
// What the local-universal difference depends on besides the day: the zone setting of the last
// reset, and TZ's text (the C library may read it again on its own).
struct Zone {
  uint32_t resets, tz_hash;
  bool operator==(const Zone&) const = default;
};

Zone zone_now() {
  const char* tz = getenv("TZ");
  uint32_t hash = tz ? 2166136261u : 0;  // FNV-1a; no TZ differs from an empty one
  for (const char* c = tz; c && *c; ++c) hash = (hash ^ (unsigned char)*c) * 16777619u;
  return Zone{platform_time_zone_resets(), hash};
}

// The local-universal difference of the last universal day converted to local time, under the
// zone it was found in; kept only for days on which the difference does not change.
struct DayCache {
  int year = -1, month = -1, day = -1;
  int64_t difference = 0;
  int dst = -1;
  Zone zone{};
} g_to_local_cache;
int g_remembered_dst = -1;
// The clocks tests put in place of the platform's (null: the platform's).
ptime_clock_fn g_clock = nullptr;
ptime_clock_fn g_delay_clock = nullptr;

int64_t seconds_now() { return g_clock ? g_clock() : platform_time_now(); }
int64_t delay_ms_now() { return g_delay_clock ? g_delay_clock() : platform_steady_ms(); }

int leap(int year) { return is_leap_year(year); }

// Days from 1970-01-01 to 1 January of `year` (>= 1970). The years before 2010 come from the
// table; later ones add the year lengths (counted by the leap rule, as a loop would).
int64_t days_before_year(int year) {
  if (year < 2010) return kDaysSince1970.days[year - 1970];
  auto leaps_before = [](int64_t y) { return (y - 1) / 4 - (y - 1) / 100 + (y - 1) / 400; };
  return (int64_t)(year - 1970) * 365 + leaps_before(year) - leaps_before(1970);
}

void fill(ptime* out, const platform_tm& t, int local) {
  out->seconds = t.sec, out->minutes = t.min, out->hours = t.hour, out->day = t.mday;
  out->month = t.mon, out->year = t.year, out->tm_is_local = local, out->dst = t.isdst;
}

platform_tm to_platform(const ptime* r, int isdst) {
  return platform_tm{r->seconds, r->minutes, r->hours, r->day, r->month, r->year, 0, 0, isdst};
}

ptime* now_into(ptime* record, int local) {
  int64_t now = seconds_now() + g_offset;
  if (now <= 0) return nullptr;
  ptime* r = record ? record : &g_now_record;
  platform_tm t;
  if (!(local ? platform_localtime(now, &t) : platform_gmtime(now, &t))) return nullptr;
  fill(r, t, local);
  return r;
}

// Local minus universal seconds at `seconds`.
bool local_difference(int64_t seconds, int64_t* difference, int* dst) {
  platform_tm t;
  if (!platform_localtime(seconds, &t)) return false;
  ptime local{};
  fill(&local, t, 1);
  *difference = ptime_to_seconds(&local) - seconds;
  if (dst) *dst = t.isdst;
  return true;
}

// A record's second count according to its own tm_is_local; -1 when a local record cannot be
// converted.
int64_t seconds_of(const ptime* r) {
  if (!r->tm_is_local) return ptime_to_seconds(r);
  platform_tm t = to_platform(r, r->dst);
  return platform_mktime(&t);
}

int compare_fields(const ptime* a, const ptime* b) {
  if (a->tm_is_local != b->tm_is_local) {
    report_fatal("ptime_compare", "tm_is_local should be the same for time1 and time2");
    return 0;
  }
  const int32_t fa[6] = {a->year, a->month, a->day, a->hours, a->minutes, a->seconds};
  const int32_t fb[6] = {b->year, b->month, b->day, b->hours, b->minutes, b->seconds};
  for (int i = 0; i < 6; i++)
    if (fa[i] != fb[i]) return fa[i] - fb[i];
  return 0;
}

// The current ctime text with a one-digit day's blank replaced by '0'.
bool ctime_now(char* text) {
  if (!platform_ctime(seconds_now(), text)) return false;
  if (text[8] == ' ') text[8] = '0';
  return true;
}

}  // namespace

KEL_BEGIN_C

int is_leap_year(int year) { return (year % 4 == 0 && year % 100 != 0) || year % 400 == 0; }

int day_of_year(int year, int month, int day) {
  if (month < 0 || month > 11) return 0;
  int days = day - 1;
  for (int m = 0; m <= month; m++) days += kPtimeMonthDays[leap(year)][m];
  return days;
}

int64_t ptime_to_seconds(const ptime* r) {
  int year = r->year + 1900;
  if (year < 1970 || r->month < 0 || r->month > 11) return 0;
  int64_t days = days_before_year(year);
  const int* months = kPtimeMonthDays[leap(year)];
  for (int m = 0; m <= r->month; m++) days += months[m];
  days += r->day - 1;
  return days * kSecondsPerDay + (int64_t)r->hours * kSecondsPerHour + r->minutes * 60 + r->seconds;
}

int64_t pdate_to_seconds(const pdate* r) {
  int year = r->year + 1900;
  if (year < 1970 || r->month < 0 || r->month > 11) return 0;
  int64_t days = 0;
  for (int y = 1970; y < year; y++) days += kDaysPerYear[leap(y)];
  const int* months = kPdateMonthDays[leap(year)];
  for (int m = 0; m <= r->month; m++) days += months[m];
  days += r->day - 1;
  int64_t s =
      days * kSecondsPerDay + (int64_t)r->hours * kSecondsPerHour + r->minutes * 60 + r->seconds;
  if (r->zone != PDATE_NO_ZONE) s += 60 * (int64_t)r->zone;
  return s;
}

ptime* ptime_now_utc(ptime* record) { return now_into(record, 0); }
ptime* ptime_now_local(ptime* record) { return now_into(record, 1); }

int ptime_set_offset(int64_t seconds) {
  g_offset = seconds;
  return 0;
}

ptime* ptime_from_seconds(ptime* record, int64_t seconds) {
  platform_tm t;
  if (!record || !platform_gmtime(seconds, &t)) return nullptr;
  fill(record, t, 0);
  return record;
}

int ptime_to_local(const ptime* record, ptime* out) {
  g_remembered_dst = -1;
  if (!record || !out) return 0;
  if (record->year < 70 || (record->year == 70 && record->month == 0 && record->day == 1) ||
      record->tm_is_local) {
    *out = *record;
    out->tm_is_local = 1;
    return 1;
  }
  DayCache& c = g_to_local_cache;
  const Zone zone = zone_now();
  if (c.year != record->year || c.month != record->month || c.day != record->day ||
      c.zone != zone) {
    ptime midnight = *record;
    midnight.hours = midnight.minutes = midnight.seconds = 0;
    int64_t start = ptime_to_seconds(&midnight), at_start, at_end;
    int dst;
    if (!local_difference(start, &at_start, &dst) ||
        !local_difference(start + kSecondsPerDay - 1, &at_end, nullptr))
      return 0;
    if (at_start == at_end) {
      c = DayCache{record->year, record->month, record->day, at_start, dst, zone};
    } else {  // the clocks change that day: convert this second on its own
      c = DayCache{};
      platform_tm t;
      if (!platform_localtime(ptime_to_seconds(record), &t)) return 0;
      int32_t spare = record->spare;
      fill(out, t, 1);
      out->spare = spare;
      return 1;
    }
  }
  platform_tm t;
  if (!platform_gmtime(ptime_to_seconds(record) + c.difference, &t)) return 0;
  int32_t spare = record->spare;
  fill(out, t, 1);
  out->dst = g_remembered_dst = c.dst;
  out->spare = spare;
  return 1;
}

int ptime_to_utc(const ptime* record, ptime* out) {
  g_remembered_dst = -1;
  if (!record || !out) return 0;
  if (record->year < 70 || (record->year == 70 && record->month == 0 && record->day == 1) ||
      !record->tm_is_local) {
    *out = *record;
    out->tm_is_local = 0;
    return 1;
  }
  platform_tm t = to_platform(record, record->dst);
  int64_t seconds = platform_mktime(&t);
  if (seconds == -1 || !platform_gmtime(seconds, &t)) return 0;
  int32_t spare = record->spare;
  fill(out, t, 0);
  out->spare = spare;
  return 1;
}

int64_t ptime_difference(const ptime* a, const ptime* b) {
  if (!a || !b) return 0;
  return seconds_of(a) - seconds_of(b);
}

int ptime_compare(const ptime* a, const ptime* b) {
  if (!a || !b) {
    report_fatal("ptime_compare", "bad parameters");
    return 0;
  }
  ptime converted;
  if (a->tm_is_local != b->tm_is_local) {
    const ptime* local = a->tm_is_local ? a : b;
    if (!ptime_to_utc(local, &converted)) return 0;
    if (local == a)
      a = &converted;
    else
      b = &converted;
  }
  return compare_fields(a, b);
}

int pdate_now(pdate* record, int64_t* seconds) {
  if (!record) return 0;
  int64_t s = seconds && *seconds ? *seconds : seconds_now();
  platform_tm t;
  if (!platform_localtime(s, &t)) return 0;
  record->seconds = (uint8_t)t.sec, record->minutes = (uint8_t)t.min,
  record->hours = (uint8_t)t.hour;
  record->day = (uint8_t)t.mday, record->month = (int8_t)t.mon, record->dst = (uint8_t)t.isdst;
  record->year = (int16_t)t.year, record->zone = PDATE_NO_ZONE;
  if (seconds) *seconds = s;
  return 1;
}

int pdate_to_ptime(const pdate* c, ptime* f) {
  if (!c || !f) return 0;
  f->seconds = c->seconds, f->minutes = c->minutes, f->hours = c->hours, f->day = c->day;
  f->month = c->month, f->year = c->year, f->dst = c->dst;
  f->tm_is_local = f->spare = -1;
  return 1;
}

char* time_stamp_short(char* buffer) {
  char text[TIME_TEXT_SIZE];
  if (!platform_ctime(seconds_now(), text)) return nullptr;
  snprintf(buffer, TIME_TEXT_SIZE, "%2.2s-%3.3s-%2.2s %8.8s", text + 8, text + 4, text + 22,
           text + 11);
  return buffer;
}

char* time_text_now(char* buffer) {
  char text[TIME_TEXT_SIZE];
  if (!ctime_now(text)) return nullptr;
  snprintf(buffer, 28, "%.27s", text);
  return buffer;
}

char* time_stamp_compact(char* buffer) {
  char text[TIME_TEXT_SIZE];
  if (!ctime_now(text)) return nullptr;
  char month[4] = {text[4], text[5], text[6], 0};
  snprintf(buffer, TIME_TEXT_SIZE, "%.2s%.2d%.2s.%.2s%.2s%.2s", text + 22, month_number(month),
           text + 8, text + 11, text + 14, text + 17);
  return buffer;
}

int today_ymd(int* year, int* month, int* day) {
  platform_tm t;
  if (!platform_localtime(seconds_now(), &t)) return 0;
  if (year) *year = t.year + 1900;
  if (month) *month = t.mon + 1;
  if (day) *day = t.mday;
  return 0;
}

int month_number(char* text) {
  if (!text) return 0;
  for (char* p = text; *p; p++) *p = ascii_upper(*p);
  size_t n = strlen(text);
  if (n < 3) return 0;
  for (int m = 0; m < 12; m++)
    if (n <= strlen(kMonthNames[m]) && strncmp(text, kMonthNames[m], n) == 0) return m + 1;
  return 0;
}

const char* month_name(int number) {
  return number >= 1 && number <= 12 ? kMonthNames[number - 1] : "???";
}
const char* month_abbrev(int number) {
  return number >= 1 && number <= 12 ? kMonthAbbrevs[number - 1] : "???";
}

int pdate_format(const pdate* r, char* buffer) {
  const char* abbrev = month_abbrev(r->month + 1);
  char month[4] = {abbrev[0], ascii_lower(abbrev[1]), ascii_lower(abbrev[2]), 0};
  if (r->year < 100)
    snprintf(buffer, TIME_TEXT_SIZE, "%d-%3.3s-%2.2d %.2d:%.2d:%.2d", r->day, month, r->year,
             r->hours, r->minutes, r->seconds);
  else
    snprintf(buffer, TIME_TEXT_SIZE, "%d-%3.3s-%4.4d %.2d:%.2d:%.2d", r->day, month, r->year + 1900,
             r->hours, r->minutes, r->seconds);
  return 0;
}

int pdate_parse(const char* text, pdate* record) {
  if (!text || !record) return 0;
  int day, year, hours, minutes, seconds;
  char month[4];
  int read =
      sscanf(text, "%2d-%3s-%2d %2d:%2d:%2d", &day, month, &year, &hours, &minutes, &seconds);
  if (read != 6) {  // a four-digit year, as written from 2000 on
    read = sscanf(text, "%2d-%3s-%4d %2d:%2d:%2d", &day, month, &year, &hours, &minutes, &seconds);
    if (read != 6 || year < 2000) return 0;
    year -= 1900;
  }
  int m = month_number(month);
  // Fields outside the record's ranges are refused rather than stored wrapped.
  if (m == 0 || day < 1 || day > 31 || hours < 0 || hours > 23 || minutes < 0 || minutes > 59 ||
      seconds < 0 || seconds > 59 || year < 0)
    return 0;
  record->day = (uint8_t)day, record->month = (int8_t)(m - 1), record->year = (int16_t)year;
  record->hours = (uint8_t)hours, record->minutes = (uint8_t)minutes,
  record->seconds = (uint8_t)seconds;
  return 1;
}

int spg_delay(int tenths) {
  if (tenths < 0) return -1;
  if (tenths > 30) {
    if (order_debug_level_get() != 0) {
      fputs("spg_delay: More than a 3 second delay requested.\n", stdout);
      fflush(stdout);
    }
    tenths = 30;
  }
  if (order_debug_level_is_special()) return 0;
  const int divisor = order_debug_level_is(73) ? 100 : 10;
  const int64_t target = (tenths * 1000 + divisor / 2) / divisor;
  // One steady millisecond counter measured from the first measurement of the process.
  if (g_delay_base < 0) g_delay_base = delay_ms_now();
  const int64_t first = delay_ms_now() - g_delay_base;
  while (delay_ms_now() - g_delay_base - first < target) {
  }
  return 0;
}

int sleep_seconds(int seconds) {
  if (seconds > 0) platform_sleep_ms((uint32_t)seconds * 1000u);
  return seconds;
}

int sleep_microseconds(int microseconds) {
  if (microseconds >= 1000) platform_sleep_ms((uint32_t)(microseconds / 1000));
  return 1;
}

int sleep_sec_usec(int seconds, int microseconds) {
  if (seconds < 0 || microseconds < 0 || (seconds == 0 && microseconds == 0)) return 0;
  uint64_t ms =
      (uint64_t)(seconds < 1000000 ? seconds : 1000000) * 1000 + (uint64_t)microseconds / 1000;
  platform_sleep_ms((uint32_t)(ms ? ms : 1));
  return 1;
}

int wall_time(int64_t out[2]) {
  int32_t ms;
  platform_wall_clock(&out[0], &ms);
  out[1] = (int64_t)ms * 1000;
  return 0;
}

double wall_seconds(void) {
  int64_t t[2];
  wall_time(t);
  return (double)t[0] + (double)t[1] * 1e-6;
}

int process_kernel_time(int32_t out[2]) {
  int64_t kernel = 0, user = 0;
  platform_process_times(&kernel, &user);
  out[0] = (int32_t)(kernel / 1000000), out[1] = (int32_t)(kernel % 1000000);
  return 0;
}

int process_user_time(int32_t out[2]) {
  int64_t kernel = 0, user = 0;
  platform_process_times(&kernel, &user);
  out[0] = (int32_t)(user / 1000000), out[1] = (int32_t)(user % 1000000);
  return 0;
}

ptime_clock_fn ptime_clock_set(ptime_clock_fn fn) {
  const ptime_clock_fn old = g_clock;
  g_clock = fn;
  return old;
}

ptime_clock_fn ptime_delay_clock_set(ptime_clock_fn fn) {
  const ptime_clock_fn old = g_delay_clock;
  g_delay_clock = fn;
  return old;
}

int32_t random_int32(void) {
  if (!g_seeded) {
    int64_t t[2];
    wall_time(t);
    srand((unsigned)((t[0] % 100000) * 4096 + t[1] % 100000));
    g_seeded = true;
  }
  uint32_t high = (uint32_t)rand() & 0xFFFFu;  // the C library's generator gives 15 bits or more
  uint32_t low = (uint32_t)rand() & 0xFFFFu;
  return (int32_t)((high << 16) | low);
}

KEL_END_C
