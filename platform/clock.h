// Clocks and calendar conversion: the current time, broken-down local and universal time with
// 64-bit second counts (dates after 2038 on both platforms), sleeps, a millisecond counter and
// the process's CPU times.
#pragma once
#include "platform/kel_base.h"

KEL_BEGIN_C
// Broken-down time with the standard library's fields.
typedef struct platform_tm {
  int32_t sec, min, hour, mday, mon, year, wday, yday, isdst;
} platform_tm;

// Seconds since 1970-01-01 00:00 universal time.
int64_t platform_time_now(void);
// 1 and the broken-down universal or local time of `seconds`, or 0 when it cannot be converted.
int platform_gmtime(int64_t seconds, platform_tm* out);
int platform_localtime(int64_t seconds, platform_tm* out);
// The second count of local fields (isdst as the standard library reads it, -1 to let it decide);
// `tm` is normalised. -1 when the fields cannot be converted.
int64_t platform_mktime(platform_tm* tm);
// The standard library's 26-character text of the local time ("Wed Jun 30 21:49:08 1993\n"), a
// one-digit day written with a zero ("Jun 05") on both platforms, into `out` (at least 32
// bytes); 1, or 0 when it cannot be made.
int platform_ctime(int64_t seconds, char* out);
// Reads the time-zone setting again (after TZ changed).
void platform_time_zone_reset(void);
// How many times platform_time_zone_reset has run: what was worked out under one zone setting
// holds while this stays the same (and TZ too).
uint32_t platform_time_zone_resets(void);
// Wall clock: whole seconds and the milliseconds of the system clock.
void platform_wall_clock(int64_t* seconds, int32_t* milliseconds);
// Milliseconds of a steady counter (arbitrary start).
int64_t platform_steady_ms(void);
// Blocks the calling thread.
void platform_sleep_ms(uint32_t milliseconds);
// The process's kernel and user CPU times in microseconds; 1, or 0 on failure.
int platform_process_times(int64_t* kernel_us, int64_t* user_us);
KEL_END_C
