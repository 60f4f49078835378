// What the processor offers the vector paths, asked once per call of each (cheap: the
// answers are cached by the compiler's runtime). Each answer also means that the system
// saves the registers of that set.
#ifndef KAVO_CPU_FEATURES_H
#define KAVO_CPU_FEATURES_H

#if defined(__i386__) || defined(__x86_64__)
inline int CpuHasSse2(void) {
    __builtin_cpu_init();
    return __builtin_cpu_supports("sse2");
}

inline int CpuHasSsse3(void) {
    __builtin_cpu_init();
    return __builtin_cpu_supports("ssse3");
}

// AVX2 with the bit instructions its paths use: every processor with AVX2 has BMI1, BMI2
// and POPCNT too, but ask.
inline int CpuHasAvx2(void) {
    __builtin_cpu_init();
    return __builtin_cpu_supports("avx2") && __builtin_cpu_supports("bmi") && __builtin_cpu_supports("bmi2") &&
           __builtin_cpu_supports("popcnt");
}
#endif

#endif
