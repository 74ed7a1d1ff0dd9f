// Helpers shared by the conversion routines.
#pragma once
#include "runtime/text/codepage_table.h"

namespace kel::text {
// The table of the code page a session language converts with.
const CodePage& session_code_page(int code);
bool is_single_byte_language(int code);
// Prints "<routine>:Error - <number>" on the standard output.
void report_failure(const char* routine, int error);
int no_translation();
// One unit to 8-bit bytes (at most 3); in Japanese mode to EUC (half-width katakana behind 0x8E,
// JIS X 0208 with bit 7 set, JIS X 0212 behind 0x8F). A character the code page cannot represent
// becomes the default byte. 0 with *error set when the code page cannot be converted with at all.
int to_euc(kel_wchar wc, bool japanese, unsigned char* out, int* error);
// One EUC character (1 to 3 bytes, as split by the caller) to a unit, or kNoChar.
kel_wchar from_euc(const CodePage& t, const unsigned char* bytes, int len);
// Byte length of the character at `p` in 8-bit text of the session language `code`: one in a
// single-byte session; EUC lengths in Japanese (3 behind 0x8F, 2 for other bytes from 0x80); 2 at
// a lead byte of a double-byte code page. Never reaching over the terminator.
int text_char_length(int code, const char* p);
}  // namespace kel::text
