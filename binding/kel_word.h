// One 32-bit argument word of a host call: what every host call stub forwards.
#pragma once
#ifndef __cplusplus
// In C a word is the plain 32-bit value: a C caller converts a pointer with (uint32_t)(uintptr_t).
#include <stdint.h>
typedef uint32_t KelWord;
#else
#include <cstddef>
#include <cstdint>
#include <type_traits>

#include "platform/kel_base.h"

// Converts implicitly from what callers pass (32-bit integers, object and function pointers,
// null) and is passed exactly like a 32-bit integer: a trivially copyable 4-byte record goes
// on the stack as one word under the caller-cleans convention on both platforms. A 64-bit
// value or a record by value is passed as several words by the caller.
struct KelWord {
  uint32_t bits;

  constexpr KelWord(int32_t v) : bits(static_cast<uint32_t>(v)) {}
  constexpr KelWord(uint32_t v) : bits(v) {}
  constexpr KelWord(std::nullptr_t) : bits(0) {}
  KelWord(const volatile void* p) : bits(static_cast<uint32_t>(reinterpret_cast<uintptr_t>(p))) {}
  template <class R, class... A>
  KelWord(R (*f)(A...)) : bits(static_cast<uint32_t>(reinterpret_cast<uintptr_t>(f))) {}
};
static_assert(sizeof(KelWord) == 4 && std::is_trivially_copyable_v<KelWord>,
              "a KelWord must travel as one 32-bit word");
#endif
