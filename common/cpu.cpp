#include "common/cpu.h"

#ifdef REELPACK_X86_COPIES
#include <cpuid.h>
#endif

bool cpu_has_avx2()
{
#ifdef REELPACK_X86_COPIES
    static const bool present = __builtin_cpu_supports("avx2");
    return present;
#else
    return false;
#endif
}

bool cpu_has_bmi2()
{
#ifdef REELPACK_X86_COPIES
    // The copies for BMI2 use LZCNT too, which processors name apart: bit 5
    // of ECX in CPUID leaf 0x80000001. Without it the instruction would run
    // as another and count wrongly.
    static const bool present = [] {
        unsigned a = 0;
        unsigned b = 0;
        unsigned c = 0;
        unsigned d = 0;
        const bool lzcnt = __get_cpuid(0x80000001u, &a, &b, &c, &d) != 0 && (c & (1u << 5)) != 0;
        return lzcnt && __builtin_cpu_supports("bmi2");
    }();
    return present;
#else
    return false;
#endif
}
