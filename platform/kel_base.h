// Basic types shared by the whole runtime and the module.
#pragma once
#include <stddef.h>
#include <stdint.h>

#ifdef __cplusplus
#define KEL_BEGIN_C extern "C" {
#define KEL_END_C   }
#else
#define KEL_BEGIN_C
#define KEL_END_C
#endif

// Wide text is always 16-bit units holding Unicode (never wchar_t, which is 32 bits on Linux).
// C spells the same type uint_least16_t (the C library's char16_t).
#ifdef __cplusplus
typedef char16_t kel_wchar;
#else
typedef uint_least16_t kel_wchar;
#endif

// A compile-time check that reads the same in C and C++ headers.
#ifdef __cplusplus
#define KEL_STATIC_ASSERT(condition, why) static_assert(condition, why)
#else
#define KEL_STATIC_ASSERT(condition, why) _Static_assert(condition, why)
#endif

// Record layouts exchanged with the host and kept in blocks rely on 4-byte pointers.
KEL_STATIC_ASSERT(sizeof(void*) == 4, "the module is 32-bit through and through");

// Compiler hints, spelled one way throughout: branch weights for the fast paths, and the
// inlining of hot and cold routines; KEL_PURE marks a function that writes nothing a caller
// can see, so that a loop calling it may keep what it read in registers.
#if defined(__GNUC__)
#define KEL_PRINTF_LIKE(fmt, args) __attribute__((format(printf, fmt, args)))
#define KEL_NORETURN               __attribute__((noreturn))
#define KEL_LIKELY(x)              __builtin_expect(!!(x), 1)
#define KEL_UNLIKELY(x)            __builtin_expect(!!(x), 0)
#define KEL_ALWAYS_INLINE          inline __attribute__((always_inline))
#define KEL_NOINLINE               __attribute__((noinline))
#define KEL_COLD                   __attribute__((noinline, cold))
#define KEL_PURE                   __attribute__((pure))
#else
#define KEL_PRINTF_LIKE(fmt, args)
#define KEL_NORETURN
#define KEL_LIKELY(x)     (x)
#define KEL_UNLIKELY(x)   (x)
#define KEL_ALWAYS_INLINE inline
#define KEL_NOINLINE
#define KEL_COLD
#define KEL_PURE
#endif
