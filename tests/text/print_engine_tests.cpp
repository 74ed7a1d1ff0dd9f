// The print engine: the conversion table against the platform's snprintf, then the runtime's own
// rules (tiny and not-a-number reals, exponents, multibyte precision, wide and path conversions,
// refused formats and the format limit).
#include <gtest/gtest.h>
#include <limits.h>
#include <math.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include <string>
#include <vector>

#include "child_output.h"
#include "runtime/diag/diag.h"
#include "runtime/text/kel_printf.h"
#include "runtime/text/kel_printf_internal.h"
#include "runtime/text/lang.h"
#include "runtime/xar/xar.h"
#include "text_test_support.h"

using texttest::stdout_of;
using texttest::text_or_null;

namespace {

template <typename T>
std::string platform(const std::string& format, T value) {
  char buffer[512];
  snprintf(buffer, sizeof buffer, format.c_str(), value);
  return buffer;
}

template <typename T>
std::string engine(const std::string& format, T value) {
  return text_or_null(kel_sprintf(nullptr, format.c_str(), value));
}

// Every combination of flags, width and precision for one set of letters, each format framed by
// ordinary text, compared with the platform's own formatting of the same conversion.
template <typename T>
void expect_like_platform(const std::vector<std::string>& letters,
                          const std::vector<std::string>& flags,
                          const std::vector<std::string>& precisions,
                          const std::vector<T>& values) {
  static const char* const widths[] = {"", "1", "7", "15"};
  for (const std::string& l : letters)
    for (const std::string& f : flags)
      for (const char* w : widths)
        for (const std::string& p : precisions)
          for (T v : values) {
            const std::string format = "<" + ("%" + f + w + p + l) + "|";
            SCOPED_TRACE(format);
            ASSERT_EQ(engine(format, v), platform(format, v));
          }
}

}  // namespace

TEST(PrintTable, IntegerRowsMatchThePlatform) {
  expect_like_platform<int>({"d", "i", "o", "u", "x", "X", "ld", "li", "lo", "lu", "lx", "lX"},
                            {"", "-", "+", " ", "#", "0", "-+"}, {"", ".0", ".3", ".12"},
                            {0, 1, -1, 42, 255, INT_MAX, INT_MIN});
  expect_like_platform<int>({"c"}, {"", "-"}, {""}, {'A', 'z', ' '});
}

TEST(PrintTable, RealRowsMatchThePlatform) {
  expect_like_platform<double>(
      {"f", "lf", "e", "E", "g", "G"}, {"", "-", "+", " ", "#", "0"}, {"", ".0", ".3", ".12"},
      {0.0, 1.5, -2.25, 12345.678, 1e-5, 6.02e23, -0.5, 1e-29, 123456789.0, 1e300});
}

TEST(PrintTable, TextRowMatchesThePlatform) {
  expect_like_platform<const char*>({"s"}, {"", "-"}, {"", ".0", ".2", ".20"},
                                    {"", "abc", "a longer piece of text"});
}

TEST(PrintTable, SeveralConversionsInOneFormat) {
  EXPECT_EQ(text_or_null(kel_sprintf(nullptr, "%d|%d", 21, 7)), "21|7");
  EXPECT_EQ(text_or_null(kel_sprintf(nullptr, "%s=%5.2f (%x) %c%%", "pi", 3.14159, 255, 'k')),
            "pi= 3.14 (ff) k%");
  EXPECT_EQ(text_or_null(kel_sprintf(nullptr, "no conversions at all")), "no conversions at all");
  EXPECT_EQ(text_or_null(kel_sprintf(nullptr, "")), "");
}

TEST(PrintTable, LettersAreMatchedWithoutRegardToCase) {
  // Capitals that are no conversion of their own are handed on in lower case.
  EXPECT_EQ(text_or_null(kel_sprintf(nullptr, "%D %I %U %LD %Lx", -5, 6, 7u, 8, 255)),
            "-5 6 7 8 ff");
  EXPECT_EQ(text_or_null(kel_sprintf(nullptr, "%6.2LF|%Lf", 1.5, 2.0)), "  1.50|2.000000");
  EXPECT_EQ(text_or_null(kel_sprintf(nullptr, "[%S][%-4C]", "txt", 'q')), "[txt][q   ]");
  EXPECT_EQ(text_or_null(kel_sprintf(nullptr, "%X %E %G", 0xabc, 1.5, 1e20)),
            "ABC 1.500000E+00 1E+20");
}

TEST(PrintEngine, WritesIntoTheCallersBuffer) {
  char out[64];
  memset(out, 'z', sizeof out);
  EXPECT_EQ(kel_sprintf(out, "%d-%s", 12, "ab"), out);
  EXPECT_STREQ(out, "12-ab");
  EXPECT_EQ(out[6], 'z');  // nothing written beyond the terminator
}

TEST(PrintEngine, AResultMayBeTheArgumentOfTheNextCall) {
  const char* inner = kel_sprintf(nullptr, "%d and %d", 1, 2);
  const char* outer = kel_sprintf(nullptr, "<%s> <%10s>", inner, inner);
  EXPECT_EQ(text_or_null(outer), "<1 and 2> <   1 and 2>");
}

TEST(PrintEngine, LongFieldsAndTextsGrowTheAreas) {
  EXPECT_EQ(text_or_null(kel_sprintf(nullptr, "%600d|", 5)), std::string(599, ' ') + "5|");
  EXPECT_EQ(text_or_null(kel_sprintf(nullptr, "%-700.3f|", 1.0)),
            "1.000" + std::string(695, ' ') + "|");
  const std::string big(5000, 'x');
  EXPECT_EQ(text_or_null(kel_sprintf(nullptr, "[%s]", big.c_str())), "[" + big + "]");
  EXPECT_EQ(text_or_null(kel_sprintf(nullptr, "[%5010s]", big.c_str())), "[          " + big + "]");
  // Forty conversions make an output longer than the first extent of the output buffer.
  std::string format, expected;
  for (int i = 0; i < 40; ++i) format += "%s|", expected += "0123456789|";
  const char* p = "0123456789";
  const char* result =
      kel_sprintf(nullptr, format.c_str(), p, p, p, p, p, p, p, p, p, p, p, p, p, p, p, p, p, p, p,
                  p, p, p, p, p, p, p, p, p, p, p, p, p, p, p, p, p, p, p, p, p);
  EXPECT_EQ(text_or_null(result), expected);
}

TEST(PrintEngine, NullTextsPrintAsNull) {
  EXPECT_EQ(text_or_null(kel_sprintf(nullptr, "%s|%ws|%5s", static_cast<const char*>(nullptr),
                                     static_cast<const kel_wchar*>(nullptr),
                                     static_cast<const char*>(nullptr))),
            "(null)|(null)|(null)");
}

TEST(PrintRules, TinyAndNotANumberRealsPrintAsZero) {
  EXPECT_EQ(text_or_null(kel_sprintf(nullptr, "%5.3f", 1e-31)), "0.000");
  EXPECT_EQ(text_or_null(kel_sprintf(nullptr, "%5.3f", -1e-31)), "0.000");
  EXPECT_EQ(text_or_null(kel_sprintf(nullptr, "%6.3f", -0.0)), " 0.000");
  EXPECT_EQ(text_or_null(kel_sprintf(nullptr, "%g|%e", NAN, -NAN)), "0|0.000000e+00");
  EXPECT_EQ(text_or_null(kel_sprintf(nullptr, "%g", 1e-30)), "1e-30");  // the bound itself stays
  EXPECT_EQ(text_or_null(kel_sprintf(nullptr, "%g", -1.5e-30)), "-1.5e-30");
  EXPECT_EQ(text_or_null(kel_sprintf(nullptr, "%f", INFINITY)), "inf");
}

TEST(PrintRules, ExponentsHaveTwoDigitsAndKeepTheirWidth) {
  EXPECT_EQ(text_or_null(kel_sprintf(nullptr, "%e", 12345.678)), "1.234568e+04");
  EXPECT_EQ(text_or_null(kel_sprintf(nullptr, "%12.3e|%-12.3e|", 1.5, 1.5)),
            "   1.500e+00|1.500e+00   |");
  EXPECT_EQ(text_or_null(kel_sprintf(nullptr, "%.2e|%.1e", 1e100, -2.5e-29)), "1.00e+100|-2.5e-29");
}

TEST(PrintRules, ThreeDigitExponentsAreTrimmed) {
  struct Case {
    const char* formatted;
    const char* spec;
    const char* expected;
  };
  const Case cases[] = {
      {"  1.500e+000", "%12.3e", "   1.500e+00"},   // right-justified: one blank more in front
      {"1.500e+000  ", "%-12.3e", "1.500e+00   "},  // left-justified: one blank more at the end
      {" +1.500e-005", "%+12.3e", "  +1.500e-05"},  // one flag before the width is skipped
      {"1.500E+000", "%E", "1.500E+00"},            // no width: only shortened
      {"1.500e+000", "%5e", "1.500e+00"},           // already wider than the width
      {"1.5e+100", "%e", "1.5e+100"},               // a real three-digit exponent stays
      {"1.5e+05", "%e", "1.5e+05"},                 // two digits stay
      {"inf", "%e", "inf"},
  };
  for (const Case& c : cases) {
    char number[64];
    strcpy(number, c.formatted);
    kel_text::exponent_trim(number, c.spec);
    EXPECT_STREQ(number, c.expected) << c.formatted << " with " << c.spec;
  }
}

TEST(PrintRules, WideStringsPrintInTheir8BitForm) {
  const kel_wchar* name = u"Bracket_7";
  EXPECT_EQ(text_or_null(kel_sprintf(nullptr, "[%ws][%WS][%Ws]", name, name, name)),
            "[Bracket_7][Bracket_7][Bracket_7]");
  EXPECT_EQ(text_or_null(kel_sprintf(nullptr, "[%12ws][%-12.3ws][%.3ws]", name, name, u"abcdef")),
            "[   Bracket_7][Bra         ][abc]");
  EXPECT_EQ(text_or_null(kel_sprintf(nullptr, "[%ws]", u"")), "[]");
  std::u16string big(3000, u'w');
  EXPECT_EQ(text_or_null(kel_sprintf(nullptr, "%ws", big.c_str())), std::string(3000, 'w'));
}

// A precision on a wide string keeps the whole characters of the session's 8-bit text that end
// within it, and never a part of one. Each row: session, text, format, result before the "|".
TEST(PrintRules, WidePrecisionKeepsWholeCharactersOfTheSession) {
  const struct {
    int code;
    const char16_t* text;
    const char *format, *expected;
  } rows[] = {
      {LANG_CODE_USASCII, u"a\u00e9b", "%.2ws|", "a\xe9"},
      {LANG_CODE_RUSSIAN, u"\u041f\u0440\u0438\u0432\u0435\u0442", "%.5ws|",
       "\xcf\xf0\xe8\xe2\xe5"},
      {LANG_CODE_JAPANESE, u"\u3042\u3044\u3046", "%.3ws|", "\xa4\xa2"},
      {LANG_CODE_JAPANESE, u"\u9ad8", "%.1ws|", ""},
      {LANG_CODE_JAPANESE, u"\uff76", "%3.1ws|", "   "},
      {LANG_CODE_JAPANESE, u"a\u4e02z", "%.3ws|", "a"},
      {LANG_CODE_JAPANESE, u"a\u4e02z", "%-5.4ws|", "a\x8f\xb0\xa1 "},
      {LANG_CODE_KOREAN, u"a\ud55c", "%.2ws|", "a"},
      {LANG_CODE_CHINESE_TW, u"\u4e2d\u6587", "%.3ws|", "\xa4\xa4"},
      {LANG_CODE_CHINESE_CN, u"\u20ac\u4e2d", "%.2ws|", "\x80"},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(testing::Message() << "code " << row.code << " " << row.format);
    lang_code_set(row.code);
    EXPECT_EQ(text_or_null(kel_sprintf(nullptr, row.format, row.text)),
              std::string(row.expected) + "|");
  }
  lang_code_set(LANG_CODE_USASCII);
}

TEST(PrintRules, MultibyteCharactersOfTheFormatAreCopiedWhole) {
  EXPECT_EQ(text_or_null(kel_sprintf(nullptr, "\xA4\xA2=%d", 5)), "\xA4\xA2=5");
  // No regime has "%" as a second byte, so a "%" after a lone lead byte is a conversion.
  EXPECT_EQ(text_or_null(kel_sprintf(nullptr, "\xA4%d", 5)),
            "\xA4"
            "5");
  EXPECT_EQ(text_or_null(kel_sprintf(nullptr, "\x8F\xB0%d!", 5)),
            "\x8F\xB0"
            "5!");
  // A character cut off by the end of the format is copied without reading beyond it.
  char* format = static_cast<char*>(malloc(4));
  memcpy(format, "ab\xA4", 4);
  EXPECT_EQ(text_or_null(kel_sprintf(nullptr, format)), "ab\xA4");
  memcpy(format, "a\x8F\xB0", 4);
  EXPECT_EQ(text_or_null(kel_sprintf(nullptr, format)), "a\x8F\xB0");
  free(format);
}

TEST(PrintRules, PathsPrintWithBackslashes) {
  EXPECT_EQ(text_or_null(kel_sprintf(nullptr, "%pd", "|usr/lib|x.txt")), "\\usr\\lib\\x.txt");
  EXPECT_EQ(text_or_null(kel_sprintf(nullptr, "[%-8pf][%8PD]", "a/b", "c|d")),
            "[a\\b     ][     c\\d]");
  const std::string longest(255, 'p');
  EXPECT_EQ(text_or_null(kel_sprintf(nullptr, "%pd", longest.c_str())), longest);
  // A path of 256 bytes or more is reported and prints empty.
  const std::string too_long(256, 'p');
  EXPECT_EQ(text_or_null(
                kel_sprintf(nullptr, "[%pd][%pf]", too_long.c_str(), (too_long + "/more").c_str())),
            "[][]");
}

// With fatal reports printed but not stopping, an over-long path is reported in the middle of a
// call, disturbing neither that call's text nor the previous result. In a child: the report
// switches are process-wide.
TEST(PrintRules, AReportMadeWhileFormattingDisturbsNothing) {
  testsupport::run_child(
      [] {
        debug_setup(1);
        fatal_hook_set([](const char*) { return 0; });
        const char* previous = kel_sprintf(nullptr, "previous %d", 1);
        const std::string too_long(300, 'p');
        std::string result;
        const std::string printed = stdout_of([&] {
          result = text_or_null(kel_sprintf(nullptr, "<%d%pd%s>", 5, too_long.c_str(), previous));
        });
        EXPECT_EQ(result, "<5previous 1>");
        EXPECT_NE(printed.find("FATAL ERROR in WSTRCOPY_X"), std::string::npos) << printed;
        EXPECT_NE(printed.find("OVERFLOW."), std::string::npos) << printed;
      },
      testsupport::exits(0));
}

TEST(PrintRules, UnknownConversionsRefuseTheWholeCall) {
  EXPECT_EQ(kel_sprintf(nullptr, "%d %q", 1, 2), nullptr);
  EXPECT_EQ(text_or_null(kel_sprintf(nullptr, "100%%")), "100%");
  for (const char* format : {"%lld", "%hd", "%p", "%5", "abc%", "%ls", "%*d", "%.*f", "%1$d"}) {
    EXPECT_EQ(kel_sprintf(nullptr, format, 1, 2), nullptr) << format;
  }
  char out[16] = "untouched";
  EXPECT_EQ(kel_sprintf(out, "%k"), nullptr);
  EXPECT_STREQ(out, "untouched");
}

TEST(PrintRules, FormatsLongerThan500BytesAreRefused) {
  const std::string accepted = std::string(498, '.') + "%d";
  const std::string refused = std::string(499, '.') + "%d";
  std::string text;
  EXPECT_EQ(stdout_of([&] { text = text_or_null(kel_sprintf(nullptr, accepted.c_str(), 7)); }), "");
  EXPECT_EQ(text, std::string(498, '.') + "7");
  const char* result = "not called";
  EXPECT_EQ(stdout_of([&] { result = kel_sprintf(nullptr, refused.c_str(), 7); }),
            "kel_sprintf   format too long \n");
  EXPECT_EQ(result, nullptr);
  int length = -1;
  EXPECT_EQ(stdout_of([&] { length = message_print(refused.c_str(), 7); }),
            "kel_sprintf   format too long \n");
  EXPECT_EQ(length, 0);
}

TEST(PrintFamily, WideResultsAndStreams) {
  kel_wchar wide[32];
  EXPECT_EQ(kel_sprintf_wide(wide, "%s-%d", "ab", 42), 5);
  EXPECT_EQ(std::u16string(wide), u"ab-42");
  EXPECT_EQ(kel_sprintf_wide(wide, "%q"), 0);

  int length = 0;
  EXPECT_EQ(stdout_of([&] { length = message_print("%s:  %s\n", "where", "what"); }),
            "where:  what\n");
  EXPECT_EQ(length, 13);
  EXPECT_EQ(stdout_of([] { wide_stdout_puts(u"wide out"); }), "wide out");

  FILE* f = tmpfile();
  ASSERT_NE(f, nullptr);
  EXPECT_EQ(kel_fprintf(f, "%03d;", 7), 4);
  EXPECT_EQ(kel_fprintf(f, "%q"), 0);
  EXPECT_EQ(text_fputs("tail", f), 4);
  rewind(f);
  char back[32] = {};
  ASSERT_NE(fgets(back, sizeof back, f), nullptr);
  EXPECT_STREQ(back, "007;tail");
  fclose(f);
}

// Results up to the largest xarray (its terminator included) are whole and terminated; any part
// that does not fit fails the whole call, quietly: null, or 0 from kel_fprintf with nothing
// written. Each row: format, length of the text argument (wide for "ws"; -1: the int 5), length
// of the result or -1.
TEST(PrintEngine, ResultsOverTheLargestXarrayFailWhole) {
  // In a child: the engine keeps the areas these calls grow.
  testsupport::run_child(
      [] {
        const int most = XAR_MAX_BYTES - 1;
        const struct {
          const char* format;
          int argument, length;
        } rows[] = {{"<%s>", most - 2, most}, {"<%s>", most - 1, -1}, {"<%5s>", 3000000, -1},
                    {"%.3s", 3000000, 3},     {"%ws", 3000000, -1},   {"%2047983d", -1, most},
                    {"%2147483646d", -1, -1}};
        std::vector<char> out(XAR_MAX_BYTES + 16);
        FILE* f = tmpfile();
        ASSERT_NE(f, nullptr);
        for (const auto& row : rows) {
          SCOPED_TRACE(row.format + std::to_string(row.argument));
          const std::string text(row.argument > 0 ? row.argument : 0, 'x');
          const std::u16string wide(text.begin(), text.end());
          auto call = [&](auto print) {
            if (row.argument < 0) return print(row.format, 5);
            return strstr(row.format, "ws") ? print(row.format, wide.c_str())
                                            : print(row.format, text.c_str());
          };
          const char* result = "";
          EXPECT_EQ(stdout_of([&] {
                      result = call([](auto... a) { return kel_sprintf(nullptr, a...); });
                    }),
                    "");
          EXPECT_EQ(result ? static_cast<int>(strlen(result)) : -1, row.length);
          memset(out.data(), 'z', out.size());
          EXPECT_EQ(call([&](auto... a) { return kel_sprintf(out.data(), a...); }),
                    row.length < 0 ? nullptr : out.data());
          EXPECT_EQ(out[row.length < 0 ? 0 : row.length], row.length < 0 ? 'z' : 0);
          rewind(f);
          EXPECT_EQ(call([&](auto... a) { return kel_fprintf(f, a...); }),
                    row.length < 0 ? 0 : row.length);
          EXPECT_EQ(ftell(f), row.length < 0 ? 0 : row.length);
        }
        fclose(f);
      },
      testsupport::exits(0));
}

// A byte of 0x80 or above in the literal text of a format is copied as it is and never hides
// the conversion after it (in a single-byte session it is a whole character).
TEST(PrintEngine, HighBytesBeforeAConversionKeepIt) {
  char out[32];
  EXPECT_STREQ(kel_sprintf(out, "\xe9%d", 5),
               "\xe9"
               "5");
  EXPECT_STREQ(kel_sprintf(out, "caf\xe9 %s\xe9", "x"), "caf\xe9 x\xe9");
}
