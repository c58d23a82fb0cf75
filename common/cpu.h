// Loops that gain from instructions beyond the basic x86-64 set are built a
// second time for processors that have them, and chosen when the program
// runs; both copies compute the same bytes. A few loops use the SSE2
// instructions that every x86-64 processor has.
//
// A portable build (REELPACK_PORTABLE) has neither: only the plain loops,
// which give the same bytes on any processor.
#pragma once

#if !defined(REELPACK_PORTABLE) && defined(__GNUC__) && defined(__x86_64__)
#define REELPACK_X86_COPIES 1
#define REELPACK_TARGET(features) __attribute__((target(features)))
#endif

#if !defined(REELPACK_PORTABLE) && defined(__SSE2__)
#define REELPACK_SSE2 1
#endif

#if defined(__GNUC__)
#define REELPACK_INLINE __attribute__((always_inline)) inline
#define REELPACK_RARELY(x) __builtin_expect(!!(x), 0)
#define REELPACK_LIKELY(x) __builtin_expect(!!(x), 1)
#else
#define REELPACK_INLINE inline
#define REELPACK_RARELY(x) (x)
#define REELPACK_LIKELY(x) (x)
#endif

// Both false in a portable build.
[[nodiscard]] bool cpu_has_avx2();
// BMI2 and LZCNT both.
[[nodiscard]] bool cpu_has_bmi2();
