#pragma once

// Which vector units and bit instructions the processor the program runs on
// has, asked once: the kernels that use them are chosen when the program
// runs, so that one build runs on every x86-64 processor.
namespace VectorUnits {

struct Units {
    bool avx2 = false;
    bool bmi = false; // bit-field extraction in one instruction (BMI1)
    // 512-bit vectors with 16-bit arithmetic and byte permutes (AVX-512 F,
    // BW and VBMI)
    bool avx512Vbmi = false;
};

inline const Units& units() {
    static const Units has = [] {
        Units u;
#if defined(__x86_64__) || defined(__i386__)
        __builtin_cpu_init();
        u.avx2 = __builtin_cpu_supports("avx2") != 0;
        u.bmi = __builtin_cpu_supports("bmi") != 0;
        u.avx512Vbmi = u.avx2 && __builtin_cpu_supports("avx512f") != 0 &&
                       __builtin_cpu_supports("avx512bw") != 0 &&
                       __builtin_cpu_supports("avx512vbmi") != 0;
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

inline bool hasAvx512Vbmi() {
    return units().avx512Vbmi;
}

} // namespace VectorUnits
