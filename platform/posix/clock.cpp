// 64-bit time on 32-bit Linux: the C library's 64-bit time functions are used here only, so the
// build-wide structure layouts stay as they are.
#define _TIME_BITS        64
#define _FILE_OFFSET_BITS 64
#include "platform/clock.h"

#include <string.h>
#include <sys/resource.h>
#include <sys/time.h>
#include <time.h>

#include <atomic>

static_assert(sizeof(time_t) == 8, "the clock needs 64-bit time");

namespace {
void to_platform(const struct tm& t, platform_tm* out) {
  *out = platform_tm{t.tm_sec,  t.tm_min,  t.tm_hour, t.tm_mday, t.tm_mon,
                     t.tm_year, t.tm_wday, t.tm_yday, t.tm_isdst};
}
struct tm from_platform(const platform_tm* in) {
  struct tm t;
  memset(&t, 0, sizeof t);
  t.tm_sec = in->sec, t.tm_min = in->min, t.tm_hour = in->hour, t.tm_mday = in->mday;
  t.tm_mon = in->mon, t.tm_year = in->year, t.tm_isdst = in->isdst;
  return t;
}
}  // namespace

int64_t platform_time_now(void) { return (int64_t)time(nullptr); }

int platform_gmtime(int64_t seconds, platform_tm* out) {
  time_t t = (time_t)seconds;
  struct tm b;
  if (!gmtime_r(&t, &b)) return 0;
  to_platform(b, out);
  return 1;
}

int platform_localtime(int64_t seconds, platform_tm* out) {
  time_t t = (time_t)seconds;
  struct tm b;
  if (!localtime_r(&t, &b)) return 0;
  to_platform(b, out);
  return 1;
}

int64_t platform_mktime(platform_tm* tm) {
  struct tm t = from_platform(tm);
  time_t r = mktime(&t);
  if (r == (time_t)-1) return -1;
  to_platform(t, tm);
  return (int64_t)r;
}

int platform_ctime(int64_t seconds, char* out) {
  time_t t = (time_t)seconds;
  char buffer[64];
  if (!ctime_r(&t, buffer) || strlen(buffer) > 31) return 0;
  if (buffer[8] == ' ') buffer[8] = '0';  // a one-digit day as the Windows call writes it: "05"
  strcpy(out, buffer);
  return 1;
}

namespace {
std::atomic<uint32_t> g_zone_resets{0};
}  // namespace

void platform_time_zone_reset(void) {
  tzset();
  ++g_zone_resets;
}

uint32_t platform_time_zone_resets(void) { return g_zone_resets.load(); }

void platform_wall_clock(int64_t* seconds, int32_t* milliseconds) {
  struct timespec ts;
  clock_gettime(CLOCK_REALTIME, &ts);
  *seconds = (int64_t)ts.tv_sec;
  *milliseconds = (int32_t)(ts.tv_nsec / 1000000);
}

int64_t platform_steady_ms(void) {
  struct timespec ts;
  clock_gettime(CLOCK_MONOTONIC, &ts);
  return (int64_t)ts.tv_sec * 1000 + ts.tv_nsec / 1000000;
}

void platform_sleep_ms(uint32_t milliseconds) {
  struct timespec ts = {(time_t)(milliseconds / 1000), (long)(milliseconds % 1000) * 1000000L};
  while (nanosleep(&ts, &ts) != 0) {
  }
}

int platform_process_times(int64_t* kernel_us, int64_t* user_us) {
  struct rusage usage;
  if (getrusage(RUSAGE_SELF, &usage) != 0) return 0;
  *kernel_us = (int64_t)usage.ru_stime.tv_sec * 1000000 + usage.ru_stime.tv_usec;
  *user_us = (int64_t)usage.ru_utime.tv_sec * 1000000 + usage.ru_utime.tv_usec;
  return 1;
}
