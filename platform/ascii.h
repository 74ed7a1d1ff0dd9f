// ASCII letter case, whatever the locale: only "A" to "Z" and "a" to "z" change. For names that
// are ASCII by definition (file types, language and character set names, month names, format
// letters, drive letters), where the session's locale must not decide what matches. Every
// routine takes 8-bit bytes and 16-bit wide units alike. C++ only.
#pragma once
#include <stddef.h>

#include <type_traits>

// The unit's value as a non-negative number (a char may be signed).
template <typename C>
constexpr unsigned ascii_unit(C c) {
  return static_cast<std::make_unsigned_t<C>>(c);
}

template <typename C>
constexpr bool ascii_is_upper(C c) {
  return c >= 'A' && c <= 'Z';
}
template <typename C>
constexpr bool ascii_is_lower(C c) {
  return c >= 'a' && c <= 'z';
}
template <typename C>
constexpr bool ascii_is_letter(C c) {
  return ascii_is_upper(c) || ascii_is_lower(c);
}
template <typename C>
constexpr C ascii_upper(C c) {
  return ascii_is_lower(c) ? static_cast<C>(c - 'a' + 'A') : c;
}
template <typename C>
constexpr C ascii_lower(C c) {
  return ascii_is_upper(c) ? static_cast<C>(c - 'A' + 'a') : c;
}

// Compares at most `count` units of two zero-terminated texts with ASCII letters raised: the
// difference of the first pair that differs (units taken as non-negative), 0 when the texts are
// equal up to their ends or to `count`.
template <typename A, typename B>
constexpr int ascii_ncompare_ignoring_case(const A* a, const B* b, size_t count) {
  for (size_t i = 0; i < count; ++i) {
    const unsigned x = ascii_unit(ascii_upper(a[i])), y = ascii_unit(ascii_upper(b[i]));
    if (x != y || x == 0) return static_cast<int>(x) - static_cast<int>(y);
  }
  return 0;
}
// The same over the whole texts.
template <typename A, typename B>
constexpr int ascii_compare_ignoring_case(const A* a, const B* b) {
  return ascii_ncompare_ignoring_case(a, b, static_cast<size_t>(-1));
}
template <typename A, typename B>
constexpr bool ascii_equal_ignoring_case(const A* a, const B* b) {
  return ascii_compare_ignoring_case(a, b) == 0;
}

static_assert(ascii_upper('q') == 'Q' && ascii_lower('Q') == 'q' && ascii_lower('@') == '@');
static_assert(ascii_upper(static_cast<char>(0xE9)) == static_cast<char>(0xE9));
static_assert(ascii_upper(u'\u00E9') == u'\u00E9' && ascii_lower(u'Z') == u'z');
static_assert(ascii_compare_ignoring_case("Asy", "aSY") == 0 &&
              ascii_compare_ignoring_case("ab", "abc") < 0 &&
              ascii_ncompare_ignoring_case("abX", "ABy", 2) == 0);
