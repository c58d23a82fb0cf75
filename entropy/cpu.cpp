#include "entropy/cpu.h"

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
    // The copies for BMI2 use LZCNT too, which every processor with BMI2
    // has; clang's test cannot name it.
#if defined(__clang__)
    static const bool present = __builtin_cpu_supports("bmi2");
#else
    static const bool present = __builtin_cpu_supports("bmi2") && __builtin_cpu_supports("abm");
#endif
    return present;
#else
    return false;
#endif
}
