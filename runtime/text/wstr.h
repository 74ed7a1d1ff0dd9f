// The runtime's wide-string library: zero-terminated 16-bit strings.
// Case changes affect only "a" to "z" and "A" to "Z".
#pragma once
#include "platform/kel_base.h"

// Longest wide string str_ret takes, in units.
#define STR_LEN 256

KEL_BEGIN_C
kel_wchar wide_toupper(kel_wchar c);
kel_wchar wide_tolower(kel_wchar c);
// Whole copies with the case changed, terminated.
kel_wchar* wide_upper_copy(const kel_wchar* src, kel_wchar* dst);
kel_wchar* wide_lower_copy(const kel_wchar* src, kel_wchar* dst);
// At most count - 1 characters, always terminated; returns the terminator's position in dst.
// A count below 1 writes nothing and returns dst.
kel_wchar* wide_upper_ncopy(const kel_wchar* src, kel_wchar* dst, int count);
kel_wchar* wide_lower_ncopy(const kel_wchar* src, kel_wchar* dst, int count);
// In each run of letters and digits the first is raised and the rest lowered.
kel_wchar* wide_capitalize(const kel_wchar* src, kel_wchar* dst);

kel_wchar* wide_cat(kel_wchar* dst, const kel_wchar* src);
kel_wchar* wide_cpy(kel_wchar* dst, const kel_wchar* src);
int wide_len(const kel_wchar* s);
// First or last position of c, or null; c = 0 finds the terminator.
kel_wchar* wide_chr(const kel_wchar* s, kel_wchar c);
kel_wchar* wide_rchr(const kel_wchar* s, kel_wchar c);
// Difference of the first differing units (unsigned 16-bit), 0 when equal.
int wide_cmp(const kel_wchar* a, const kel_wchar* b);
kel_wchar* wide_ncat(kel_wchar* dst, const kel_wchar* src, int count);
int wide_ncmp(const kel_wchar* a, const kel_wchar* b, int count);
// Copies at most count units and zero-fills the rest of them; no terminator when src is that long.
kel_wchar* wide_ncpy(kel_wchar* dst, const kel_wchar* src, int count);
int wide_icmp(const kel_wchar* a, const kel_wchar* b);
int wide_nicmp(const kel_wchar* a, const kel_wchar* b, int count);

double wide_to_double(const kel_wchar* s);
long wide_to_long(const kel_wchar* s);
// strtows into the next of four buffers used in turn (each valid until reused four calls later).
kel_wchar* text_to_wide_pool(const char* text);

// As wide_cat, wide_ncat, wide_cmp, wide_ncmp with an 8-bit second operand.
kel_wchar* wide_cat_text(kel_wchar* dst, const char* text);
kel_wchar* wide_ncat_text(kel_wchar* dst, const char* text, int count);
int wide_cmp_text(const kel_wchar* wide, const char* text);
int wide_ncmp_text(const kel_wchar* wide, const char* text, int count);
// Case-blind comparison with an 8-bit text; printable ASCII is compared directly.
int wide_icmp_text(const kel_wchar* wide, const char* text);
int wide_nicmp_text(const kel_wchar* wide, const char* text, int count);

// Tokeniser: a non-null s restarts, null continues; delimiters are not skipped (empty tokens).
kel_wchar* wide_tok(kel_wchar* s, const kel_wchar* delimiters);
// Index of the first occurrence of sub, -1 when none.
int wide_find(const kel_wchar* s, const kel_wchar* sub);
// out = src with the first (or every) sub replaced by repl; the position of the first
// replacement in out, or null (and out a copy of src) when sub does not occur or is empty.
kel_wchar* wide_replace_first(kel_wchar* out, const kel_wchar* src, const kel_wchar* sub,
                              const kel_wchar* repl);
kel_wchar* wide_replace_all(kel_wchar* out, const kel_wchar* src, const kel_wchar* sub,
                            const kel_wchar* repl);
// Copy with each `from` replaced by `to`; returns dst (null src: empty dst and null; null dst:
// null).
kel_wchar* wide_replace_char(const kel_wchar* src, kel_wchar* dst, kel_wchar from, kel_wchar to);

// wstostr of `wide` into a buffer overwritten by each call. A string longer than STR_LEN units is
// reported and only its first STR_LEN units are converted.
char* str_ret(const kel_wchar* wide);

// Bounded copies into a buffer of `size` bytes or units: a source that does not fit with its
// terminator is reported as "OVERFLOW." and leaves the buffer empty. 1 when copied, else 0.
int WSTRCOPY_X(char* dst, const char* src, int size);
int WSTRCOPY_X_WIDE(kel_wchar* dst, const kel_wchar* src, int size);
KEL_END_C
