// Single-precision arithmetic for channel scaling and derived values.
//
// Plain IEEE single precision: an overflow gives an infinity and 0/0 a NaN, never a trap. A
// process-wide check switch (off at start) makes the operations record a result that is no
// longer finite in an error code; while it is off the code is never touched.
#pragma once

#include <cstdint>

enum : int32_t {
    FP_ERROR_NONE = 0,
    FP_ERROR_DIVIDE = 2,
    FP_ERROR_OVERFLOW = 3,
};

float fp_FromDouble(const double *x);
float fp_Add(const float *a, const float *b);
float fp_Subtract(const float *a, const float *b);
float fp_Multiply(const float *a, const float *b);
float fp_Divide(const float *a, const float *b);
float fp_Negate(const float *a);

// The check switch and the error code it feeds.
void fp_SetCheck(int on);
int fp_GetCheck();
int32_t fp_GetError();
void fp_SetError(int32_t code);
