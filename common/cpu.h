// Loops that gain from instructions beyond the basic x86-64 set are built a
// second time for processors that have them, and chosen when the program
// runs; both copies compute the same bytes.
#pragma once

#if defined(__GNUC__) && defined(__x86_64__)
#define REELPACK_X86_COPIES 1
#define REELPACK_TARGET(features) __attribute__((target(features)))
#endif

#if defined(__GNUC__)
#define REELPACK_INLINE __attribute__((always_inline)) inline
#else
#define REELPACK_INLINE inline
#endif

[[nodiscard]] bool cpu_has_avx2();
// BMI2 and LZCNT both.
[[nodiscard]] bool cpu_has_bmi2();

// Makes the two questions above answer false from now on, or as before
// again: the plain copies then run on any processor, so that they can be
// checked against the others.
void cpu_use_plain_copies(bool plain);
