#pragma once

// Which vector units the processor the program runs on has, asked once: the
// kernels that use them are chosen when the program runs, so that one build
// runs on every x86-64 processor.
namespace VectorUnits {

inline bool hasAvx2() {
#if defined(__x86_64__) || defined(__i386__)
    static const bool has = [] {
        __builtin_cpu_init();
        return __builtin_cpu_supports("avx2") != 0;
    }();
    return has;
#else
    return false;
#endif
}

// Bit-field extraction in one instruction (BMI1).
inline bool hasBmi() {
#if defined(__x86_64__) || defined(__i386__)
    static const bool has = [] {
        __builtin_cpu_init();
        return __builtin_cpu_supports("bmi") != 0;
    }();
    return has;
#else
    return false;
#endif
}

} // namespace VectorUnits
