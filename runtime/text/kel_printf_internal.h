// Pieces of the print engine shared with the scan family and open to tests.
#pragma once
#include <stddef.h>
#include <type_traits>

#include "platform/ascii.h"
#include "platform/kel_base.h"
#include "runtime/diag/trap.h"

namespace kel_text {

// A work area of at least `count` objects: a fixed local array, or a heap block when the count
// does not fit, so that long texts are handled whole instead of overrunning the local area. It
// may live in a frame that a trap's jump leaves (the jump releases the block), so it has no
// destructor: release() gives the block back.
template <typename T, size_t Local>
struct LocalOrHeap {
  T* take(size_t count) {
    if (count <= Local) return local_;
    return static_cast<T*>(trap_block_get(&heap_, static_cast<int>(count * sizeof(T))));
  }
  void release() {
    if (heap_.data) trap_block_release(&heap_);
  }

 private:
  T local_[Local];
  trap_block heap_ = {nullptr, 0};
};
static_assert(std::is_trivially_destructible_v<LocalOrHeap<char, 1>>);

// One row of a conversion table: the letters (lower case; matched without regard to case over
// their length), the replacement handed to the platform (null: the letters as written) and the
// kind.
struct ConversionRow {
  const char* letters;
  int length;
  const char* replacement;
  int kind;
};

// The first row whose letters start the text at `at`, or null.
template <size_t N>
const ConversionRow* find_conversion(const ConversionRow (&rows)[N], const char* at) {
  for (const ConversionRow& row : rows) {
    int i = 0;
    while (i < row.length && at[i] && ascii_lower(at[i]) == row.letters[i]) ++i;
    if (i == row.length) return &row;
  }
  return nullptr;
}

// Writes the letters handed to the platform for a row matched at `written`: the replacement, or
// the letters as written with every letter lowered except a final x, e, g or f, whose capital is
// the same conversion with capital output. Other capitals would ask the platform for an argument
// of another type (a capital S or C is a wide conversion there, a capital L a long double).
inline char* put_letters(char* o, const ConversionRow& row, const char* written) {
  if (row.replacement) {
    for (const char* r = row.replacement; *r; ++r) *o++ = *r;
    return o;
  }
  for (int i = 0; i < row.length; ++i) {
    const char low = ascii_lower(written[i]);
    const bool keeps_case =
        i == row.length - 1 && (low == 'x' || low == 'e' || low == 'g' || low == 'f');
    *o++ = keeps_case ? written[i] : low;
  }
  return o;
}

// Shortens a three-digit exponent "e+0dd" of a formatted number to two digits and restores the
// field width that `spec` (the conversion, from "%" to its letters) asks for.
void exponent_trim(char* number, const char* spec);
// The width and the precision of `spec` (the conversion, from "%" to its letters), -1 for each one
// absent; numbers past INT_MAX read as INT_MAX.
void spec_numbers(const char* spec, int* width, int* precision);
// Cuts 8-bit text of the session under the precision of `spec` after the last character that
// ends within it, so that no character is split (an empty text when not even the first fits).
void precision_cut(char* text, const char* spec);

}  // namespace kel_text
