// Conversion between the host's wide (16-bit Unicode) text and 8-bit text in the session's regime:
// EUC for Japanese (code 1), the double-byte code page for the other multibyte languages, and the
// single-byte code page otherwise.
#pragma once
#include <stdio.h>
#include "platform/kel_base.h"

KEL_BEGIN_C
// Character level. A "process code" is the packed 16-bit form of one EUC character.
// Writes 1 to 4 bytes (no terminating zero); -1 on failure. Under the EUC flag `wc` is a process
// code.
int kel_wctomb(char* out, kel_wchar wc);
// Bytes consumed, or -1. With a null `out`, the byte length of the character at `text`.
int kel_mbtowc(kel_wchar* out, const char* text, int len);
// The process code (Japanese), the packed code page code (other multibyte), or `wc` unchanged.
kel_wchar unicode_to_wchar(kel_wchar wc);
// 1, or -1 when the character has no multibyte form.
int unicode_to_dbcs_code(kel_wchar* out, kel_wchar wc);
// Replaces a process or packed code by its Unicode character; returns 1.
int wc16towc32(kel_wchar* code_inout);
// The byte count kel_wctomb gives for `wc`.
int wide_char_text_len(kel_wchar wc);
// The EUC flag; set returns the previous value.
int euc_flag_set(int value);
int euc_flag_get(void);

// EUC bytes of a process code (1 to 3 bytes, no terminating zero); returns the count.
int euc_code_to_bytes(char* out, kel_wchar code);
// The process code of the EUC character at `bytes`; bytes used, 0 when `len` is too short.
int euc_bytes_to_code(kel_wchar* out, const char* bytes, int len);
// JIS X 0208 / Shift-JIS arithmetic on a byte pair, in place; applied only when the first byte is
// non-zero.
void jis_to_sjis(unsigned char* b1, unsigned char* b2);
void sjis_to_jis(unsigned char* b1, unsigned char* b2);
// c | 0x8080 and c & 0x7F7F, for codes of 256 and above.
kel_wchar jis_code_to_euc(kel_wchar code);
kel_wchar euc_code_to_jis(kel_wchar code);

// String level.
// Wide to 8-bit text; the caller provides wstostr_size(wide length) bytes. Returns text_out.
char* wstostr(char* text_out, const kel_wchar* wide_in);
// 8-bit text to wide; the caller provides (text length + 1) wide units. Returns wide_out.
kel_wchar* strtows(kel_wchar* wide_out, const char* text_in);
char* unicode_str_to_euc_str(char* text_out, const kel_wchar* wide_in);
// Returns wide_out, or EUC_STR_CONVERSION_FAILED after a failure outside Japanese mode.
kel_wchar* euc_str_to_unicode_str(kel_wchar* wide_out, const char* text_in);
#define EUC_STR_CONVERSION_FAILED ((kel_wchar*)0xFFFF)
char* unicode_str_to_multibyte_str(char* text_out, const kel_wchar* wide_in);

// Streams and console.
// A Unicode character, or 0xFFFF at end of file or on failure.
kel_wchar fget_unicode_wc(FILE* stream);
kel_wchar fput_unicode_wc(kel_wchar wc, FILE* stream);
// A wide character, or -1 at end of file.
int wide_getc(FILE* stream);
kel_wchar* wide_gets(kel_wchar* buffer, int count, FILE* stream);
kel_wchar wide_putc(kel_wchar wc, FILE* stream);
void wide_puts(const kel_wchar* wide, FILE* stream);
// Longest line the console readers store (further characters up to the newline are dropped);
// the caller's buffer holds at least this many units plus the terminator.
#define CONSOLE_LINE_MAX 1023
// A line from standard input without its newline; null when end of file came first.
kel_wchar* console_line_read(kel_wchar* buffer);
// The same with the console's echo switched off; null when the console mode cannot be had.
kel_wchar* console_line_read_hidden(kel_wchar* buffer);

// Hexadecimal JIS forms (Japanese mode only).
int jis_hex_to_wide(kel_wchar* out, const char* text);
// Writes four lower-case hexadecimal digits (at least 5 bytes); "0000" and 0 outside Japanese mode.
int wide_to_jis_hex(char* text_out, const kel_wchar* wide);

// Tests.
int wide_char_is(kel_wchar wc, char ascii);
int wide_is_integer(const kel_wchar* wide);
int wide_is_real(const kel_wchar* wide);
int is_korean_wide_space(unsigned int wc, int code);

// Allocating copies (getmem; release with rlsmem). A null source gives null.
char* text_dup(const char* text);
kel_wchar* wide_dup(const kel_wchar* wide);
char* text_dup_upper(const char* text);
kel_wchar* wide_dup_upper(const kel_wchar* wide);
kel_wchar* text_to_new_wide(const char* text);
char* wide_to_new_text(const kel_wchar* wide);
// `n` as "%d" in wide form, in a buffer overwritten by each call.
kel_wchar* int_to_wide_text(int n);
KEL_END_C

#ifdef __cplusplus
// The most bytes wstostr writes for `units` wide units: four a unit, and the terminator.
constexpr int wstostr_size(int units) { return 4 * units + 1; }
#endif
