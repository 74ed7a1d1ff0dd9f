#include <gtest/gtest.h>

#include <cctype>
#include <cstring>
#include <string>

#include "child_output.h"
#include "platform/clock.h"
#include "platform/locale.h"
#include "runtime/diag/diag.h"
#include "runtime/time/ptime.h"

namespace {

// 2024-06-05 12:00:00 universal time, a Wednesday.
int64_t fixed_now() { return 1717588800; }

ptime from_tm(const platform_tm& t, int local) {
  return ptime{t.sec, t.min, t.hour, t.mday, t.mon, t.year, local, 0, t.isdst};
}

// Every day from 1970 to 2100 at a moving time of day, against the C library's universal-time
// breakdown (64-bit, so the days after 2038-01-19 are checked as well).
TEST(Calendar, SecondsOfEveryDayMatchTheCLibrary) {
  for (int64_t s = 0; s < 4133980800LL; s += 86400 + 61) {
    platform_tm t;
    ASSERT_TRUE(platform_gmtime(s, &t));
    ptime p = from_tm(t, 0);
    ASSERT_EQ(ptime_to_seconds(&p), s) << t.year << "/" << t.mon << "/" << t.mday;
    ASSERT_EQ(day_of_year(t.year + 1900, t.mon, t.mday), t.yday);
    pdate d{(uint8_t)t.sec,  (uint8_t)t.min, (uint8_t)t.hour, (uint8_t)t.mday, (int8_t)t.mon, 0,
            (int16_t)t.year, PDATE_NO_ZONE};
    ASSERT_EQ(pdate_to_seconds(&d), s);
    d.zone = -90;
    ASSERT_EQ(pdate_to_seconds(&d), s - 5400);
    ptime back;
    ASSERT_TRUE(ptime_from_seconds(&back, s));
    ASSERT_EQ(0, ptime_compare(&back, &p));
  }
  ptime before{59, 59, 23, 31, 11, 69, 0, 0, 0};
  EXPECT_EQ(0, ptime_to_seconds(&before));
  ptime epoch{0, 0, 0, 1, 0, 70, 0, 0, 0};
  EXPECT_EQ(0, ptime_to_seconds(&epoch));
  EXPECT_EQ(59, day_of_year(2000, 1, 29));
  EXPECT_EQ(59, day_of_year(1900, 2, 1));  // 1900 is not a leap year
  EXPECT_FALSE(is_leap_year(1900));
  EXPECT_TRUE(is_leap_year(2000));
}

struct Zone {
  const char* tz;
  int winter_offset_h, summer_offset_h;
};

#ifdef _WIN32
const Zone kZones[] = {{"EST5EDT", -5, -4}, {"CET-1CEST", 1, 2}};
#else
const Zone kZones[] = {{"EST5EDT,M3.2.0,M11.1.0", -5, -4}, {"CET-1CEST,M3.5.0,M10.5.0/3", 1, 2}};
#endif

// Universal -> local -> universal for every hour of a year before and a year after 2038, the
// local records against the C library's local breakdown, under two zones with daylight saving.
TEST(Conversion, RoundTripsUnderTwoZonesWithDaylightSaving) {
  for (const Zone& zone : kZones) {
    testsupport::set_env("TZ", zone.tz);
    platform_time_zone_reset();
    for (int64_t year_start : {1704067200LL /* 2024 */, 2208988800LL /* 2040 */}) {
      int summer = 0;
      for (int64_t s = year_start; s < year_start + 366LL * 86400; s += 3600 + 17) {
        ptime utc, local, back;
        ASSERT_TRUE(ptime_from_seconds(&utc, s));
        ASSERT_TRUE(ptime_to_local(&utc, &local));
        platform_tm expect;
        ASSERT_TRUE(platform_localtime(s, &expect));
        ASSERT_EQ(local.hours, expect.hour) << zone.tz << " " << s;
        ASSERT_EQ(local.day, expect.mday);
        ASSERT_EQ(local.dst, expect.isdst) << zone.tz << " " << s;
        ASSERT_EQ(1, local.tm_is_local);
        ASSERT_TRUE(ptime_to_utc(&local, &back));
        ASSERT_EQ(0, back.tm_is_local);
        ASSERT_EQ(0, ptime_compare(&back, &utc)) << zone.tz << " " << s;
        ASSERT_EQ(0, ptime_compare(&local, &utc));
        ASSERT_EQ(0, ptime_difference(&local, &utc));
        const int64_t offset_h = (ptime_to_seconds(&local) - s) / 3600;
        ASSERT_EQ(offset_h, local.dst ? zone.summer_offset_h : zone.winter_offset_h);
        summer += local.dst > 0;
      }
      EXPECT_GT(summer, 24 * 100) << zone.tz;
    }
  }
  testsupport::unset_env("TZ");
  platform_time_zone_reset();
}

// The same universal record converted again after the zone changed follows the new zone.
TEST(Conversion, ALaterZoneIsNotTheDayBefore) {
  ptime utc, local;
  platform_tm expect;
  ASSERT_TRUE(ptime_from_seconds(&utc, fixed_now()));
  for (const char* tz : {"UTC0", "JST-9", "UTC0"}) {
    testsupport::set_env("TZ", tz);
    platform_time_zone_reset();
    ASSERT_TRUE(ptime_to_local(&utc, &local) && platform_localtime(fixed_now(), &expect));
    EXPECT_EQ(expect.hour, local.hours) << tz;
  }
  testsupport::unset_env("TZ");
  platform_time_zone_reset();
}

TEST(Conversion, CompareAndDifference) {
  ptime a{0, 0, 12, 1, 5, 140, 0, 0, 0}, b{1, 0, 12, 1, 5, 140, 0, 0, 0};
  EXPECT_LT(ptime_compare(&a, &b), 0);
  EXPECT_GT(ptime_compare(&b, &a), 0);
  EXPECT_EQ(-1, ptime_difference(&a, &b));
  EXPECT_EQ(0, ptime_compare(nullptr, &a));
  EXPECT_EQ(0, ptime_difference(nullptr, &a));
  ptime old{5, 4, 3, 1, 0, 60, 0, 0, 0}, out;
  ASSERT_TRUE(ptime_to_local(&old, &out));  // before 1970: copied, only the flag set
  EXPECT_EQ(3, out.hours);
  EXPECT_EQ(1, out.tm_is_local);
  EXPECT_EQ(0, ptime_to_local(nullptr, &out));
  ASSERT_NE(nullptr, ptime_now_utc(nullptr));
  ptime now, later;
  ptime_clock_set(fixed_now);
  ptime_now_utc(&now);
  ptime_set_offset(3600);
  ptime_now_utc(&later);
  ptime_set_offset(0);
  ptime_clock_set(nullptr);
  EXPECT_EQ(3600, ptime_difference(&later, &now));
}

TEST(Names, MonthsAndStamps) {
  const char* texts[] = {"apr", "AUG", "jun", "Jul", "mar", "MAY", "september", "ja", "junk", ""};
  const int expect[] = {4, 8, 6, 7, 3, 5, 9, 0, 0, 0};
  for (int i = 0; i < 10; i++) {
    char text[16];
    strcpy(text, texts[i]);
    EXPECT_EQ(expect[i], month_number(text)) << texts[i];
  }
  EXPECT_STREQ("FEBRUARY", month_name(2));
  EXPECT_STREQ("DEC", month_abbrev(12));
  EXPECT_STREQ("???", month_abbrev(13));
  EXPECT_STREQ("???", month_name(0));

  // Every stamp of one second, read in universal time; a one-digit day is written "05" on both
  // platforms.
  testsupport::set_env("TZ", "UTC0");
  platform_time_zone_reset();
  ptime_clock_set(fixed_now);
  char text[TIME_TEXT_SIZE];
  EXPECT_STREQ("05-Jun-24 12:00:00", time_stamp_short(text));
  EXPECT_STREQ("240605.120000", time_stamp_compact(text));
  EXPECT_STREQ("Wed Jun 05 12:00:00 2024\n", time_text_now(text));
  int y = 0, m = 0, d = 0;
  EXPECT_EQ(0, today_ymd(&y, &m, &d));
  EXPECT_EQ(2024 * 10000 + 6 * 100 + 5, y * 10000 + m * 100 + d);
  ptime_clock_set(nullptr);
  testsupport::unset_env("TZ");
  platform_time_zone_reset();
}

// Month names are English: a Latin-1 session locale, which raises more letters than ASCII's,
// leaves the other bytes of the caller's text as they were.
TEST(Names, MonthNumberRaisesOnlyAsciiLetters) {
  if (!platform_locale_set_all("french")) GTEST_SKIP() << "no Latin-1 locale installed";
  volatile int u_circumflex = 0xFB;  // the compiler would fold a constant as the C locale has it
  const bool locale_raises_more = toupper(u_circumflex) == 0xDB;
  char text[] = "ao\xFBt";  // August in French
  const int number = month_number(text);
  platform_locale_set_all("C");
  ASSERT_TRUE(locale_raises_more);
  EXPECT_EQ(0, number);
  EXPECT_STREQ("AO\xFBT", text);
}

// Both forms read back what they write; years before 2000 keep the two-digit form.
TEST(Names, DateTextsReadBack) {
  pdate r{3, 2, 1, 5, 2, 0, 99, PDATE_NO_ZONE};
  char text[32];
  EXPECT_EQ(0, pdate_format(&r, text));
  EXPECT_STREQ("5-Mar-99 01:02:03", text);
  for (int year = 70; year < 300; year += 7) {
    for (int month = 0; month < 12; month++) {
      pdate in{59,           30, 23, (uint8_t)(1 + month * 2), (int8_t)month, 0, (int16_t)year,
               PDATE_NO_ZONE},
          out{};
      pdate_format(&in, text);
      ASSERT_EQ(1, pdate_parse(text, &out)) << text;
      EXPECT_EQ(in.year, out.year) << text;
      EXPECT_EQ(in.month, out.month);
      EXPECT_EQ(in.day, out.day);
      EXPECT_EQ(in.seconds, out.seconds);
    }
  }
  pdate out;
  EXPECT_EQ(0, pdate_parse("5-Xyz-99 01:02:03", &out));
  EXPECT_EQ(0, pdate_parse("5-Mar-99 01:02", &out));
  EXPECT_EQ(0, pdate_parse("-5-Mar-99 01:02:03", &out));
  EXPECT_EQ(0, pdate_parse("5-Mar-99 24:02:03", &out));
  EXPECT_EQ(0, pdate_parse("5-Mar-1999 01:02:03", &out));  // four digits only from 2000 on
  EXPECT_EQ(0, pdate_parse(nullptr, &out));
  int64_t when = 2208988800LL + 86400 * 40;  // 2040
  ASSERT_EQ(1, pdate_now(&out, &when));
  ptime full;
  ASSERT_EQ(1, pdate_to_ptime(&out, &full));
  EXPECT_EQ(140, full.year);
  EXPECT_EQ(-1, full.tm_is_local);
}

// A counter that moves one millisecond each time it is read.
int64_t ticks = 0;
int64_t ticking_ms() { return ++ticks; }

TEST(Delays, DebugLevelsAndLimits) {
  EXPECT_EQ(-1, spg_delay(-1));
  ptime_delay_clock_set(ticking_ms);
  // The milliseconds of the counter a delay waits at each debug level.
  const struct {
    int level, tenths;
    int64_t waits;
  } cases[] = {{0, 3, 300}, {0, 45, 3000}, {73, 20, 200}, {73, 1, 10}, {9129, 30, 0}};
  for (const auto& c : cases) {
    order_debug_level_set(c.level);
    SCOPED_TRACE(testing::Message() << c.level << " " << c.tenths);
    const int64_t start = ticks;
    EXPECT_EQ(0, spg_delay(c.tenths));
    EXPECT_GE(ticks - start, c.waits);
    EXPECT_LE(ticks - start, c.waits + 3);
  }
  order_debug_level_set(0);
  // The warning comes before the special levels' early return, and only when debugging.
  std::string said = testsupport::run_child(
      [] {
        order_debug_level_set(9029);
        spg_delay(45);
        order_debug_level_set(0);
        spg_delay(31);
      },
      testsupport::exits(0));
  EXPECT_EQ("spg_delay: More than a 3 second delay requested.\n", said);
  // The platform's counter.
  ptime_delay_clock_set(nullptr);
  int64_t start = platform_steady_ms();
  EXPECT_EQ(0, spg_delay(1));
  EXPECT_GE(platform_steady_ms() - start, 100);

  EXPECT_EQ(0, sleep_sec_usec(0, 0));
  EXPECT_EQ(0, sleep_sec_usec(-1, 5));
  start = platform_steady_ms();
  EXPECT_EQ(1, sleep_sec_usec(0, 500));
  EXPECT_EQ(1, sleep_microseconds(20000));
  EXPECT_GE(platform_steady_ms() - start, 19);
  EXPECT_EQ(0, sleep_seconds(0));
}

TEST(Clocks, WallProcessAndRandom) {
  int64_t w[2];
  EXPECT_EQ(0, wall_time(w));
  EXPECT_NEAR((double)w[0], (double)platform_time_now(), 2);
  EXPECT_LT(w[1], 1000000);
  EXPECT_NEAR(wall_seconds(), (double)w[0], 2);
  int32_t before[2], after[2];
  process_user_time(before);
  volatile double x = 0;
  for (int i = 0; i < 30000000; i++) x = x + i * 0.5;
  process_user_time(after);
  EXPECT_GT((after[0] - before[0]) * 1000000 + after[1] - before[1], 0);
  EXPECT_LT(after[1], 1000000);
  int32_t kernel[2];
  EXPECT_EQ(0, process_kernel_time(kernel));
  EXPECT_GE(kernel[0], 0);
  int32_t ored = 0, anded = -1;
  for (int i = 0; i < 64; i++) ored |= random_int32(), anded &= random_int32();
  // Each half carries the generator's low 16 bits (15 where it gives 15).
  EXPECT_EQ((unsigned)ored, (unsigned)(RAND_MAX & 0xFFFF) * 0x10001u);
  EXPECT_EQ(0, anded);
}

}  // namespace
