// Wide and 8-bit text conversion in every regime; the expected bytes are the same on every
// platform.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <utility>
#include <vector>

#include "platform/codepage.h"
#include "runtime/mem/mem.h"
#include "runtime/text/kel_printf.h"
#include "runtime/text/lang.h"
#include "runtime/text/mbconv.h"
#include "child_output.h"

namespace {

std::string hex_of(const char* text, size_t n) {
  static const char digits[] = "0123456789abcdef";
  std::string out;
  for (size_t i = 0; i < n; ++i) {
    auto b = static_cast<unsigned char>(text[i]);
    out += digits[b >> 4];
    out += digits[b & 15];
  }
  return out;
}
std::string hex(const char* text) { return hex_of(text, strlen(text)); }

std::string unhex(const std::string& h) {
  std::string out;
  for (size_t i = 0; i + 1 < h.size(); i += 2)
    out += static_cast<char>(std::stoi(h.substr(i, 2), nullptr, 16));
  return out;
}

std::u16string wide(const kel_wchar* w) {
  return w ? std::u16string(w) : std::u16string(u"<null>");
}

std::string to_text(const std::u16string& w) {
  std::vector<char> out(4 * w.size() + 1, '\x7f');
  wstostr(out.data(), w.c_str());
  return hex(out.data());
}

std::u16string to_wide(const std::string& hex_bytes) {
  std::string bytes = unhex(hex_bytes);
  std::vector<kel_wchar> out(bytes.size() + 1, 0x7777);
  strtows(out.data(), bytes.c_str());
  return out.data();
}

std::string stdout_of(void (*action)()) {
  ::testing::internal::CaptureStdout();
  action();
  return ::testing::internal::GetCapturedStdout();
}

struct Sample {
  int code;
  const char16_t* text;
  const char* bytes;
};

// Real text in each regime and its bytes.
const Sample kSamples[] = {
    {LANG_CODE_USASCII, u"abc", "616263"},
    {LANG_CODE_USASCII, u"caf\u00e9 \u20ac\u00fc", "636166e92080fc"},
    {LANG_CODE_GERMAN, u"Stra\u00dfe \u00c4rger", "53747261df6520c472676572"},
    {LANG_CODE_RUSSIAN, u"\u041f\u0440\u0438\u0432\u0435\u0442 \u043c\u0438\u0440",
     "cff0e8e2e5f220ece8f0"},
    {LANG_CODE_JAPANESE, u"\u4e9c\u3042\uff71\u4e02\u4e04A", "b0a1a4a28eb18fb0a18fb0a241"},
    {LANG_CODE_JAPANESE, u"\u65e5\u672c\u8a9e \uff83\uff7d\uff84", "c6fccbdcb8ec208ec38ebd8ec4"},
    {LANG_CODE_KOREAN, u"\ud55c\uae00\u3000x", "c7d1b1dba1a178"},
    {LANG_CODE_CHINESE_TW, u"\u4e2d\u6587\u7e41\u9ad4", "a4a4a4e5c163c5e9"},
    {LANG_CODE_CHINESE_CN, u"\u4e2d\u6587\u7b80\u4f53", "d6d0cec4bcf2cce5"},
    {LANG_CODE_CUSTOM_MB, u"caf\u00e9", "636166e9"},
};

class Conversion : public ::testing::Test {
 protected:
  void TearDown() override { lang_code_set(LANG_CODE_USASCII); }
};

TEST_F(Conversion, RealTextRoundTripsThroughTheSameBytes) {
  for (const Sample& s : kSamples) {
    SCOPED_TRACE(testing::Message() << "code " << s.code << " bytes " << s.bytes);
    lang_code_set(s.code);
    EXPECT_EQ(to_text(s.text), s.bytes);
    EXPECT_EQ(to_wide(s.bytes), std::u16string(s.text));
    // Streams write and read the same bytes.
    FILE* f = tmpfile();
    ASSERT_NE(f, nullptr);
    wide_puts(s.text, f);
    rewind(f);
    char bytes[64] = {};
    size_t n = fread(bytes, 1, sizeof bytes - 1, f);
    EXPECT_EQ(hex_of(bytes, n), s.bytes);
    rewind(f);
    std::u16string back;
    for (int wc; (wc = wide_getc(f)) >= 0;) back += static_cast<char16_t>(wc);
    fclose(f);
    if (s.code == LANG_CODE_USASCII || s.code == LANG_CODE_GERMAN || s.code == LANG_CODE_RUSSIAN) {
      // Single-byte streams give each byte's value as the character.
      EXPECT_EQ(back.size(), unhex(s.bytes).size());
    } else {
      EXPECT_EQ(back, std::u16string(s.text));
    }
  }
}

TEST_F(Conversion, CharactersWithoutAFormBecomeTheDefaultByte) {
  lang_code_set(LANG_CODE_USASCII);
  EXPECT_EQ(to_text(u"\u041f\u4e9cz"), "3f3f7a");
  lang_code_set(LANG_CODE_RUSSIAN);
  EXPECT_EQ(to_text(u"\u00e9\u0416"), "3fc6");
  lang_code_set(LANG_CODE_KOREAN);
  EXPECT_EQ(to_text(u"\u0416\uff71"), "aca83f");
  lang_code_set(LANG_CODE_JAPANESE);
  EXPECT_EQ(to_text(u"\ud55c"), "3f");
}

TEST_F(Conversion, WesternBytesTheCodePageLeavesOpenStandForControlCharacters) {
  lang_code_set(LANG_CODE_USASCII);
  EXPECT_EQ(to_wide("818d8f909d"), u"\u0081\u008d\u008f\u0090\u009d");
  EXPECT_EQ(to_text(u"\u0081\u009d"), "819d");
}

TEST_F(Conversion, CharacterRoutinesFollowTheRegime) {
  char out[8] = {};
  kel_wchar wc = 0;
  lang_code_set(LANG_CODE_RUSSIAN);
  EXPECT_EQ(kel_wctomb(out, u'\u0416'), 1);
  EXPECT_EQ(static_cast<unsigned char>(out[0]), 0xC6);
  EXPECT_EQ(kel_mbtowc(&wc, "\xc6", 1), 1);
  EXPECT_EQ(wc, u'\u0416');
  EXPECT_EQ(unicode_to_wchar(u'\u0416'), u'\u0416');

  lang_code_set(LANG_CODE_CHINESE_TW);
  EXPECT_EQ(kel_wctomb(out, u'\u4e2d'), 2);
  EXPECT_EQ(hex_of(out, 2), "a4a4");
  EXPECT_EQ(kel_mbtowc(&wc, "\xa4\xa4", 3), 2);
  EXPECT_EQ(wc, u'\u4e2d');
  EXPECT_EQ(wide_char_text_len(u'\u4e2d'), 2);
  EXPECT_EQ(wide_char_text_len(u'a'), 1);

  // Japanese: the character routines work on process codes.
  lang_code_set(LANG_CODE_JAPANESE);
  EXPECT_EQ(euc_flag_get(), 1);
  EXPECT_EQ(kel_wctomb(out, 0xB0A1), 2);
  EXPECT_EQ(hex_of(out, 2), "b0a1");
  EXPECT_EQ(kel_wctomb(out, 0xB021), 3);
  EXPECT_EQ(hex_of(out, 3), "8fb0a1");
  EXPECT_EQ(kel_mbtowc(&wc, "\xa4", 1), -1);
  EXPECT_EQ(kel_mbtowc(nullptr, "\xa4\xa2", 2), 2);
  EXPECT_EQ(kel_mbtowc(nullptr, "\x8f\xb0\xa1", 3), 3);
  EXPECT_EQ(kel_mbtowc(nullptr, "A", 1), 1);
  EXPECT_EQ(kel_mbtowc(&wc, nullptr, 1), -1);
  EXPECT_EQ(unicode_to_wchar(u'\u4e9c'), 0xB0A1);
  EXPECT_EQ(unicode_to_wchar(u'\uff71'), 0x00B1);
  EXPECT_EQ(unicode_to_wchar(u'\u4e02'), 0xB021);
  EXPECT_EQ(unicode_to_wchar(u'A'), u'A');
  EXPECT_EQ(unicode_to_wchar(0x80), 0x80);  // a single byte outside the katakana is its own code
  // The plain code page form, without EUC.
  char sjis[16] = {};
  EXPECT_EQ(hex(unicode_str_to_multibyte_str(sjis, u"\u4e9c\uff71A")), "889fb141");
  lang_code_set(LANG_CODE_USASCII);
  EXPECT_EQ(euc_flag_get(), 0);
}

TEST(ProcessCode, BytesAndCodes) {
  struct Case {
    kel_wchar code;
    const char* bytes;
  } cases[] = {
      {0x0041, "41"}, {0x00B1, "8eb1"}, {0xB0A1, "b0a1"}, {0xB021, "8fb0a1"}, {0xF4A6, "f4a6"}};
  for (const Case& c : cases) {
    char out[4] = {};
    int n = euc_code_to_bytes(out, c.code);
    EXPECT_EQ(hex_of(out, static_cast<size_t>(n)), c.bytes);
    kel_wchar back = 0;
    std::string raw = unhex(c.bytes);
    EXPECT_EQ(euc_bytes_to_code(&back, raw.data(), static_cast<int>(raw.size())), n);
    EXPECT_EQ(back, c.code);
  }
  kel_wchar code = 0;
  EXPECT_EQ(euc_bytes_to_code(&code, "\x8f\xb0", 2), 0);  // too short
  EXPECT_EQ(euc_bytes_to_code(&code, "\xb0", 1), 0);
  EXPECT_EQ(euc_bytes_to_code(&code, "\x8e", 2), 1);
  EXPECT_EQ(code, 0x8E);
  EXPECT_EQ(euc_bytes_to_code(&code, "\x8f\xb0", 3), 2);
  EXPECT_EQ(code, 0xB0);
  // A terminator right behind 0x8F ends the character: nothing past it is read.
  char tail[3] = {'\x8f', 0, '\x41'};
  EXPECT_EQ(euc_bytes_to_code(&code, tail, 3), 1);
  EXPECT_EQ(code, 0x8F);
  EXPECT_EQ(jis_code_to_euc(0x3021), 0xB0A1);
  EXPECT_EQ(euc_code_to_jis(0xB0A1), 0x3021);
  EXPECT_EQ(jis_code_to_euc(0x41), 0x41);
}

TEST(ProcessCode, ShiftJisArithmeticIsItsOwnInverseOverTheWholeJisPlane) {
  for (unsigned j1 = 0x21; j1 <= 0x7E; ++j1) {
    for (unsigned j2 = 0x21; j2 <= 0x7E; ++j2) {
      unsigned char a = static_cast<unsigned char>(j1), b = static_cast<unsigned char>(j2);
      jis_to_sjis(&a, &b);
      ASSERT_TRUE((a >= 0x81 && a <= 0x9F) || (a >= 0xE0 && a <= 0xEF)) << j1 << " " << j2;
      ASSERT_TRUE(b >= 0x40 && b <= 0xFC && b != 0x7F) << j1 << " " << j2;
      sjis_to_jis(&a, &b);
      ASSERT_EQ(a, j1);
      ASSERT_EQ(b, j2);
    }
  }
  unsigned char a = 0x30, b = 0x21;
  jis_to_sjis(&a, &b);
  EXPECT_EQ(a, 0x88);
  EXPECT_EQ(b, 0x9F);
  a = 0, b = 0x41;
  jis_to_sjis(&a, &b);
  EXPECT_EQ(b, 0x41);
}

TEST_F(Conversion, EucTextEdgesStoreZeroAndStayInsideTheText) {
  lang_code_set(LANG_CODE_JAPANESE);
  kel_wchar out[8];
  for (kel_wchar& w : out) w = 0x7777;
  // A lead byte at the end of the text, and 0x8F with too few bytes behind it.
  euc_str_to_unicode_str(out, "\xb0");
  EXPECT_EQ(out[0], 0);
  euc_str_to_unicode_str(out, "A\x8f\xb0");
  EXPECT_EQ(out[0], u'A');
  EXPECT_EQ(out[1], 0);
  EXPECT_EQ(out[2], 0);
  // A byte 0xFF ends the text.
  euc_str_to_unicode_str(out,
                         "ab\xff"
                         "cd");
  EXPECT_EQ(wide(out), u"ab");
}

TEST_F(Conversion, DoubleByteFailuresAreReportedAndMarked) {
  lang_code_set(LANG_CODE_KOREAN);
  static kel_wchar out[8];
  static kel_wchar* result;
  std::string printed = stdout_of([] { result = euc_str_to_unicode_str(out, "a\xc7"); });
  EXPECT_EQ(result, EUC_STR_CONVERSION_FAILED);
  EXPECT_EQ(printed, "euc_str_to_unicode_str:Error - " +
                         std::to_string(platform_codepage_no_translation_error()) + "\n");
  EXPECT_EQ(wide(out), u"a");
  // strtows gives the default character for it instead.
  EXPECT_EQ(to_wide("61c7"), u"a?");
}

TEST_F(Conversion, NullPointersAreReportedAndNothingIsConverted) {
  static char text[4] = "xy";
  std::string printed = stdout_of([] { EXPECT_EQ(wstostr(text, nullptr), text); });
  EXPECT_EQ(printed, "WSTOSTR :  Illegal NULL pointer !!!");
  EXPECT_STREQ(text, "xy");
  printed = stdout_of([] { EXPECT_EQ(strtows(nullptr, "a"), nullptr); });
  EXPECT_EQ(printed, "STRTOWS :  Illegal NULL pointer !!!");
}

TEST_F(Conversion, JisHexFormsOnlyInJapaneseMode) {
  lang_code_set(LANG_CODE_USASCII);
  char text[8] = "zzzzzz";
  EXPECT_EQ(wide_to_jis_hex(text, u"\u4e9c"), 0);
  EXPECT_STREQ(text, "0000");
  kel_wchar wc = 1;
  EXPECT_EQ(jis_hex_to_wide(&wc, "3021"), 0);
  EXPECT_EQ(wc, 0);
  lang_code_set(LANG_CODE_JAPANESE);
  EXPECT_EQ(wide_to_jis_hex(text, u"\u4e9c"), 1);
  EXPECT_STREQ(text, "3021");
  EXPECT_EQ(wide_to_jis_hex(text, u"\u3042"), 1);
  EXPECT_STREQ(text, "2422");
  EXPECT_EQ(wide_to_jis_hex(text, u"\uff71"), 1);
  EXPECT_STREQ(text, "00b1");
  EXPECT_EQ(wide_to_jis_hex(text, u"A"), 1);
  EXPECT_STREQ(text, "0041");
  EXPECT_EQ(jis_hex_to_wide(&wc, "zz"), 0);
}

// The language of the first call is kept: these run in a new run of this program.
const testsupport::ChildOptions kFresh{.start = testsupport::ChildStart::Fresh};

TEST(FirstCall, JisHexBackToTheCharacterUsesTheLanguageOfTheFirstCall) {
  testsupport::run_child(
      [] {
        lang_code_set(LANG_CODE_JAPANESE);
        for (auto [digits, character] : {std::pair{"3021", u'\u4e9c'}, std::pair{"2422", u'\u3042'},
                                         std::pair{"00b1", u'\uff71'}}) {
          kel_wchar wc = 0;
          EXPECT_EQ(jis_hex_to_wide(&wc, digits), 1) << digits;
          EXPECT_EQ(wc, character) << digits;
        }
        char text[8];
        EXPECT_EQ(wide_to_jis_hex(text, u"\u4e02"), 1);
        EXPECT_STREQ(text, "30a1");
        kel_wchar wc = 0;
        EXPECT_EQ(jis_hex_to_wide(&wc, text), 1);
        EXPECT_EQ(wc, u'\u4e02');
        // The language seen first stays: the code is still unpacked as EUC, then read as western
        // text.
        lang_code_set(LANG_CODE_USASCII);
        kel_wchar code = 0xB0A1;
        EXPECT_EQ(wc16towc32(&code), 1);
        EXPECT_EQ(code, u'\u00b0');
      },
      testsupport::exits(0), kFresh);
}

TEST(FirstCall, PackedCodesFollowTheLanguageSeenFirst) {
  testsupport::run_child(
      [] {
        lang_code_set(LANG_CODE_USASCII);
        kel_wchar code = 0;
        EXPECT_EQ(unicode_to_dbcs_code(&code, u'\u00e9'), 1);
        EXPECT_EQ(code, u'\u00e9');
        // Single-byte at the first call: later multibyte sessions keep the values unchanged.
        lang_code_set(LANG_CODE_KOREAN);
        EXPECT_EQ(unicode_to_dbcs_code(&code, u'\ud55c'), 1);
        EXPECT_EQ(code, u'\ud55c');
        code = 0xC7D1;
        EXPECT_EQ(wc16towc32(&code), 1);
        EXPECT_EQ(code, 0xC7D1);
      },
      testsupport::exits(0), kFresh);
}

TEST(FirstCall, KoreanPackedCodesKeepBothBytes) {
  testsupport::run_child(
      [] {
        lang_code_set(LANG_CODE_KOREAN);
        EXPECT_EQ(unicode_to_wchar(u'\ud55c'), 0xC7D1);
        EXPECT_EQ(is_korean_wide_space(unicode_to_wchar(u'\u3000'), LANG_CODE_KOREAN), 1);
        EXPECT_EQ(is_korean_wide_space(0x1A1A1, LANG_CODE_KOREAN), 1);
        EXPECT_EQ(is_korean_wide_space(0xA1A1, LANG_CODE_JAPANESE), 0);
        // Lead bytes 0x8E and 0x8F are ordinary lead bytes of this code page, with trail bytes
        // below 0x80.
        for (const char* pair : {"\x8e\x41", "\x8f\x52", "\xc7\xd1"}) {
          SCOPED_TRACE(hex(pair));
          kel_wchar w[4] = {};
          strtows(w, pair);
          EXPECT_NE(w[0], 0);
          EXPECT_NE(w[0], u'?');
          EXPECT_EQ(w[1], 0);
          kel_wchar packed = unicode_to_wchar(w[0]);
          EXPECT_EQ(packed, (static_cast<unsigned char>(pair[0]) << 8) |
                                static_cast<unsigned char>(pair[1]));
          EXPECT_EQ(wc16towc32(&packed), 1);
          EXPECT_EQ(packed, w[0]);
        }
      },
      testsupport::exits(0), kFresh);
}

TEST(Classify, IntegersAndReals) {
  lang_code_set(LANG_CODE_USASCII);
  EXPECT_EQ(wide_is_integer(u" 42 "), 1);
  EXPECT_EQ(wide_is_integer(u"-7"), 1);
  EXPECT_EQ(wide_is_integer(u"+0012\t"), 1);
  EXPECT_EQ(wide_is_integer(u"4 2"), 0);
  EXPECT_EQ(wide_is_integer(u"-"), 0);
  EXPECT_EQ(wide_is_integer(u""), 0);
  EXPECT_EQ(wide_is_integer(u"1.0"), 0);
  EXPECT_EQ(wide_is_integer(nullptr), 0);
  for (const char16_t* yes : {u" -1.5e+10 ", u"1e38", u".5", u"+.5", u"3", u"2.25E-3", u"1e0001"})
    EXPECT_EQ(wide_is_real(yes), 1) << wide(yes).size();
  for (const char16_t* no :
       {u"1e100", u"1.e5", u"5.", u"1e39", u"1e-39", u"e5", u"1e", u"-", u"1.5x", u"."})
    EXPECT_EQ(wide_is_real(no), 0) << wide(no).size();
  EXPECT_EQ(wide_is_real(nullptr), 0);
  EXPECT_EQ(wide_char_is(u'-', '-'), 1);
  EXPECT_EQ(wide_char_is(u'\u4e9c', '?'), 1);  // no single-byte form: the default byte
  EXPECT_EQ(wide_char_is(u'a', 'b'), 0);
}

TEST_F(Conversion, WideGetsStopsAtTheCountAndAtTheNewline) {
  lang_code_set(LANG_CODE_USASCII);
  FILE* f = tmpfile();
  ASSERT_NE(f, nullptr);
  fputs("abcdef\nxy\n", f);
  rewind(f);
  kel_wchar buffer[16];
  EXPECT_EQ(wide_gets(buffer, 5, f), buffer);
  EXPECT_EQ(wide(buffer), u"abcd");
  EXPECT_EQ(wide(wide_gets(buffer, 16, f)), u"ef\n");
  EXPECT_EQ(wide(wide_gets(buffer, 16, f)), u"xy\n");
  EXPECT_EQ(wide_gets(buffer, 16, f), nullptr);
  buffer[0] = 'q';
  EXPECT_EQ(wide_gets(buffer, 1, f), buffer);
  EXPECT_EQ(buffer[0], 0);
  for (int count : {0, -3}) {
    buffer[0] = 'q';
    EXPECT_EQ(wide_gets(buffer, count, f), buffer);
    EXPECT_EQ(buffer[0], 0) << count;
  }
  wide_stdout_puts(nullptr);  // nothing to write, and no null read
  fclose(f);
}

TEST_F(Conversion, EucStreamsReadEveryKindOfCharacter) {
  lang_code_set(LANG_CODE_JAPANESE);
  FILE* f = tmpfile();
  ASSERT_NE(f, nullptr);
  std::string bytes = unhex("41b0a18eb18fb0a1");
  fwrite(bytes.data(), 1, bytes.size(), f);
  rewind(f);
  EXPECT_EQ(fget_unicode_wc(f), u'A');
  EXPECT_EQ(fget_unicode_wc(f), u'\u4e9c');
  EXPECT_EQ(fget_unicode_wc(f), u'\uff71');
  EXPECT_EQ(fget_unicode_wc(f), u'\u4e02');
  EXPECT_EQ(fget_unicode_wc(f), 0xFFFF);
  EXPECT_EQ(wide_getc(f), -1);
  fclose(f);
}

// Standard input replaced by a file holding `content`, in the test's own folder; afterwards the
// null device, so that the folder can go.
class ConsoleInput : public Conversion {
 protected:
  void feed(const std::string& content) {
    FILE* f = fopen("console_input.txt", "wb");
    ASSERT_NE(f, nullptr);
    fwrite(content.data(), 1, content.size(), f);
    fclose(f);
    ASSERT_NE(freopen("console_input.txt", "rb", stdin), nullptr);
  }
  void TearDown() override {
    Conversion::TearDown();
#ifdef _WIN32
    EXPECT_NE(freopen("NUL", "rb", stdin), nullptr);
#else
    EXPECT_NE(freopen("/dev/null", "rb", stdin), nullptr);
#endif
  }
};

TEST_F(ConsoleInput, LinesLongerThanTheBoundAreCutAndTheRestOfTheLineDropped) {
  lang_code_set(LANG_CODE_USASCII);
  feed(std::string(3000, 'x') + "\nnext\nlast");
  std::vector<kel_wchar> buffer(CONSOLE_LINE_MAX + 1 + 64, 0x5A5A);
  ASSERT_EQ(console_line_read(buffer.data()), buffer.data());
  EXPECT_EQ(wide(buffer.data()), std::u16string(CONSOLE_LINE_MAX, u'x'));
  for (size_t i = CONSOLE_LINE_MAX + 1; i < buffer.size(); ++i) ASSERT_EQ(buffer[i], 0x5A5A) << i;
  EXPECT_EQ(wide(console_line_read(buffer.data())), u"next");
  EXPECT_EQ(wide(console_line_read(buffer.data())), u"last");
  EXPECT_EQ(console_line_read(buffer.data()), nullptr);
}

TEST_F(ConsoleInput, HiddenReadingNeedsAConsole) {
  feed("secret\n");
  kel_wchar buffer[CONSOLE_LINE_MAX + 1];
  EXPECT_EQ(console_line_read_hidden(buffer), nullptr);
}

TEST_F(Conversion, AllocatingCopies) {
  EXPECT_EQ(text_dup(nullptr), nullptr);
  EXPECT_EQ(wide_dup(nullptr), nullptr);
  EXPECT_EQ(text_to_new_wide(nullptr), nullptr);
  EXPECT_EQ(wide_to_new_text(nullptr), nullptr);
  char* t = text_dup_upper("abc-xyz\xe9");
  EXPECT_STREQ(t, "ABC-XYZ\xe9");
  rlsmem(t);
  kel_wchar* w = wide_dup_upper(u"mixed Case \u00e9");
  EXPECT_EQ(wide(w), u"MIXED CASE \u00e9");
  rlsmem(w);
  // Three bytes a character is the most any regime writes (JIS X 0212 in EUC).
  lang_code_set(LANG_CODE_JAPANESE);
  t = wide_to_new_text(u"\u4e02\u4e04\u4e02");
  EXPECT_EQ(hex(t), "8fb0a18fb0a28fb0a1");
  w = text_to_new_wide(t);
  EXPECT_EQ(wide(w), u"\u4e02\u4e04\u4e02");
  rlsmem(t);
  rlsmem(w);
  lang_code_set(LANG_CODE_USASCII);
  EXPECT_EQ(wide(int_to_wide_text(-42)), u"-42");
  EXPECT_EQ(wide(int_to_wide_text(2147483647)), u"2147483647");
}

}  // namespace

namespace {

// FNV-1a over the conversions of every unit (to bytes) and every one- and two-byte text (to wide),
// and in Japanese mode every three-byte JIS X 0212 text: one value per regime that every
// platform must give alike.
struct TableHashes {
  uint32_t to_bytes = 2166136261u;
  uint32_t to_wide = 2166136261u;
};

void mix(uint32_t& h, unsigned v) {
  h ^= v;
  h *= 16777619u;
}

TableHashes table_hashes(int code) {
  lang_code_set(code);
  TableHashes h;
  for (unsigned u = 1; u < 0x10000; ++u) {
    if (u >= 0xD800 && u <= 0xDFFF) continue;
    kel_wchar w[2] = {static_cast<kel_wchar>(u), 0};
    char t[8] = {};
    wstostr(t, w);
    for (char* p = t; *p; ++p) mix(h.to_bytes, static_cast<unsigned char>(*p));
  }
  auto add_text = [&](const unsigned char* t) {
    kel_wchar w[4] = {};
    strtows(w, reinterpret_cast<const char*>(t));
    for (kel_wchar* p = w; *p; ++p) mix(h.to_wide, *p);
  };
  for (unsigned a = 1; a < 256; ++a) {
    for (unsigned b = 0; b < 256; ++b) {
      if (b && a < 0x80) continue;
      unsigned char t[3] = {static_cast<unsigned char>(a), static_cast<unsigned char>(b), 0};
      add_text(t);
    }
  }
  if (code == LANG_CODE_JAPANESE) {
    for (unsigned a = 0xA1; a < 0xFF; ++a) {
      for (unsigned b = 0xA1; b < 0xFF; ++b) {
        unsigned char t[4] = {0x8F, static_cast<unsigned char>(a), static_cast<unsigned char>(b),
                              0};
        add_text(t);
      }
    }
  }
  return h;
}

// Every code point of each code page of the language table, followed by "x", reads back as
// itself or was written as "?": never as bytes that cut or swallow the text. What the platform's
// conversion (the C library's iconv on Linux) takes there and back reads back as itself, user-
// defined characters aside; in Japanese that is Shift-JIS, and JIS X 0212 for what it lacks.
TEST_F(Conversion, EveryCodePointRoundTripsOrBecomesTheDefaultCharacter) {
  const int pages[][3] = {{LANG_CODE_USASCII, KEL_CP_WESTERN, 0},
                          {LANG_CODE_JAPANESE, KEL_CP_SHIFT_JIS, KEL_CP_EUC_JP},
                          {LANG_CODE_RUSSIAN, KEL_CP_CYRILLIC, 0},
                          {LANG_CODE_KOREAN, KEL_CP_KOREAN, 0},
                          {LANG_CODE_CHINESE_TW, KEL_CP_TRADITIONAL_CHINESE, 0},
                          {LANG_CODE_CHINESE_CN, KEL_CP_SIMPLIFIED_CHINESE, 0}};
  for (const auto& [code, cp, x0212] : pages) {
    lang_code_set(code);
    std::string bad;
    for (unsigned u = 1; u < 0x10000 && bad.size() < 200; ++u) {
      const kel_wchar w[3] = {static_cast<kel_wchar>(u), u'x', 0};
      char text[16] = {}, bytes[8];
      kel_wchar back[8] = {}, again[4];
      auto kept_by = [&](int page, int length) {
        int n = platform_codepage_from_wide(page, w, 1, bytes, sizeof bytes);
        return n > 0 && (!length || n == length) &&
               platform_codepage_to_wide(page, bytes, n, again, 4) == 1 && again[0] == w[0];
      };
      strtows(back, wstostr(text, w));
      if ((u >= 0xD800 && u <= 0xDFFF) || std::u16string(back) == w) continue;
      if (std::string(text) != "?x" || std::u16string(back) != u"?x" ||
          ((u < 0xE000 || u > 0xF8FF) && (kept_by(cp, 0) || (x0212 && kept_by(x0212, 3)))))
        bad += " " + std::to_string(u) + ":" + hex(text);
    }
    EXPECT_EQ(bad, "") << "code " << code;
  }
}

TEST_F(Conversion, WholeTablesAreTheSameOnEveryPlatform) {
  const struct {
    int code;
    uint32_t to_bytes, to_wide;
  } expected[] = {
      {LANG_CODE_USASCII, 0xbb48689b, 0x37e8be1b},
      {LANG_CODE_RUSSIAN, 0xaf32d8d1, 0xc71d783f},
      {LANG_CODE_JAPANESE, 0x30c5ab3b, 0xb7ba894e},
      {LANG_CODE_KOREAN, 0x928e7901, 0x5971193c},
      {LANG_CODE_CHINESE_TW, 0x15a15226, 0xf384ab4c},
      {LANG_CODE_CHINESE_CN, 0x4700a821, 0x2734c524},
  };
  for (const auto& e : expected) {
    TableHashes h = table_hashes(e.code);
    EXPECT_EQ(h.to_bytes, e.to_bytes) << "code " << e.code;
    EXPECT_EQ(h.to_wide, e.to_wide) << "code " << e.code;
  }
}

}  // namespace
