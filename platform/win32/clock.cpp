#include "platform/clock.h"

#include <string.h>
#include <time.h>

#include <atomic>
#include <windows.h>

namespace {
void to_platform(const struct tm& t, platform_tm* out) {
  *out = platform_tm{t.tm_sec,  t.tm_min,  t.tm_hour, t.tm_mday, t.tm_mon,
                     t.tm_year, t.tm_wday, t.tm_yday, t.tm_isdst};
}
int64_t filetime_us(const FILETIME& f) {
  return (int64_t)((((uint64_t)f.dwHighDateTime << 32) | f.dwLowDateTime) / 10);
}
}  // namespace

int64_t platform_time_now(void) { return (int64_t)_time64(nullptr); }

int platform_gmtime(int64_t seconds, platform_tm* out) {
  __time64_t t = seconds;
  struct tm b;
  if (_gmtime64_s(&b, &t) != 0) return 0;
  to_platform(b, out);
  return 1;
}

int platform_localtime(int64_t seconds, platform_tm* out) {
  __time64_t t = seconds;
  struct tm b;
  if (_localtime64_s(&b, &t) != 0) return 0;
  to_platform(b, out);
  return 1;
}

int64_t platform_mktime(platform_tm* tm) {
  struct tm t;
  memset(&t, 0, sizeof t);
  t.tm_sec = tm->sec, t.tm_min = tm->min, t.tm_hour = tm->hour, t.tm_mday = tm->mday;
  t.tm_mon = tm->mon, t.tm_year = tm->year, t.tm_isdst = tm->isdst;
  __time64_t r = _mktime64(&t);
  if (r == (__time64_t)-1) return -1;
  to_platform(t, tm);
  return (int64_t)r;
}

int platform_ctime(int64_t seconds, char* out) {
  __time64_t t = seconds;
  char buffer[64];
  if (_ctime64_s(buffer, sizeof buffer, &t) != 0 || strlen(buffer) > 31) return 0;
  strcpy(out, buffer);
  return 1;
}

namespace {
std::atomic<uint32_t> g_zone_resets{0};
}  // namespace

void platform_time_zone_reset(void) {
  _tzset();
  ++g_zone_resets;
}

uint32_t platform_time_zone_resets(void) { return g_zone_resets.load(); }

void platform_wall_clock(int64_t* seconds, int32_t* milliseconds) {
  FILETIME f;
  GetSystemTimeAsFileTime(&f);
  int64_t us = filetime_us(f) - 11644473600LL * 1000000;  // 1601 to 1970
  *seconds = us / 1000000;
  *milliseconds = (int32_t)(us % 1000000 / 1000);
}

int64_t platform_steady_ms(void) {
  static LARGE_INTEGER frequency;
  if (frequency.QuadPart == 0) QueryPerformanceFrequency(&frequency);
  LARGE_INTEGER now;
  QueryPerformanceCounter(&now);
  return now.QuadPart / frequency.QuadPart * 1000 +
         now.QuadPart % frequency.QuadPart * 1000 / frequency.QuadPart;
}

void platform_sleep_ms(uint32_t milliseconds) { Sleep(milliseconds); }

int platform_process_times(int64_t* kernel_us, int64_t* user_us) {
  FILETIME created, ended, kernel, user;
  if (!GetProcessTimes(GetCurrentProcess(), &created, &ended, &kernel, &user)) return 0;
  *kernel_us = filetime_us(kernel);
  *user_us = filetime_us(user);
  return 1;
}
