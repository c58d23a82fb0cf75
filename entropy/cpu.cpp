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
    // Processors with BMI2 have LZCNT too (ABM), which its copies also use.
    static const bool present = __builtin_cpu_supports("bmi2") && __builtin_cpu_supports("abm");
    return present;
#else
    return false;
#endif
}
