#pragma once

// Which vector units and bit instructions the processor the program runs on
// has, asked once: the kernels that use them are chosen when the program
// runs, so that one build runs on every x86-64 processor.
namespace VectorUnits {

struct Units {
    bool avx2 = false;
    bool bmi = false; // bit-field extraction in one instruction (BMI1)
};

inline const Units& units() {
    static const Units has = [] {
        Units u;
#if defined(__x86_64__) || defined(__i386__)
        __builtin_cpu_init();
        u.avx2 = __builtin_cpu_supports("avx2") != 0;
        u.bmi = __builtin_cpu_supports("bmi") != 0;
#endif
        return u;
    }();
    return has;
}

inline bool hasAvx2() {
    return units().avx2;
}

inline bool hasBmi() {
    return units().bmi;
}

} // namespace VectorUnits
