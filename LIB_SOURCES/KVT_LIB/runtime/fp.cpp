#include "fp.h"

#include <atomic>
#include <cstring>
#include <limits>

// Scaling must give the same bits on every target: no fast-math, no fused multiply-add
// (the build passes -ffp-contract=off).
static_assert(std::numeric_limits<float>::is_iec559);
static_assert(sizeof(float) == 4);

namespace {
std::atomic<int> g_check{0};
std::atomic<int32_t> g_error{FP_ERROR_NONE};

// Infinity and NaN both have every exponent bit set.
bool notFinite(float v) {
    uint32_t bits;
    std::memcpy(&bits, &v, sizeof bits);
    return (bits & 0x7F800000u) == 0x7F800000u;
}

float checked(float result, int32_t code) {
    if (g_check.load(std::memory_order_relaxed) != 0 && notFinite(result))
        g_error.store(code, std::memory_order_relaxed);
    return result;
}
} // namespace

float fp_FromDouble(const double *x) {
    // The conversion rounds to nearest; a value beyond the float range becomes an infinity.
    return checked(static_cast<float>(*x), FP_ERROR_OVERFLOW);
}

float fp_Add(const float *a, const float *b) {
    return checked(*a + *b, FP_ERROR_OVERFLOW);
}

float fp_Subtract(const float *a, const float *b) {
    return checked(*a - *b, FP_ERROR_OVERFLOW);
}

float fp_Multiply(const float *a, const float *b) {
    return checked(*a * *b, FP_ERROR_OVERFLOW);
}

float fp_Divide(const float *a, const float *b) {
    return checked(*a / *b, FP_ERROR_DIVIDE);
}

float fp_Negate(const float *a) {
    return checked(-*a, FP_ERROR_OVERFLOW);
}

void fp_SetCheck(int on) {
    g_check.store(on != 0 ? 1 : 0);
}

int fp_GetCheck() {
    return g_check.load();
}

int32_t fp_GetError() {
    return g_error.load();
}

void fp_SetError(int32_t code) {
    g_error.store(code);
}
