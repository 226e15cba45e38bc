#include "fp.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>

namespace {

class FpTest : public ::testing::Test {
protected:
    void SetUp() override {
        fp_SetCheck(0);
        fp_SetError(FP_ERROR_NONE);
    }
    void TearDown() override {
        fp_SetCheck(0);
        fp_SetError(FP_ERROR_NONE);
    }
};

TEST_F(FpTest, OverflowAndZeroByZeroFollowIeeeWithoutTouchingTheErrorCode) {
    EXPECT_EQ(fp_GetCheck(), 0);
    float big = 3.0e38f, ten = 10.0f, zero = 0.0f, minusOne = -1.0f;
    float r = fp_Multiply(&big, &ten);
    EXPECT_TRUE(std::isinf(r));
    EXPECT_GT(r, 0.0f);
    EXPECT_TRUE(std::isnan(fp_Divide(&zero, &zero)));
    EXPECT_EQ(fp_Divide(&minusOne, &zero), -std::numeric_limits<float>::infinity());
    EXPECT_TRUE(std::isinf(fp_Add(&big, &big)));
    EXPECT_EQ(fp_GetError(), FP_ERROR_NONE);

    // A stale code is left alone while the check is off.
    fp_SetError(FP_ERROR_DIVIDE);
    fp_Multiply(&big, &ten);
    EXPECT_EQ(fp_GetError(), FP_ERROR_DIVIDE);
}

TEST_F(FpTest, CheckRecordsOnlyResultsThatAreNotFinite) {
    fp_SetCheck(1);
    float big = 3.0e38f, ten = 10.0f, two = 2.0f, zero = 0.0f;
    EXPECT_EQ(fp_Multiply(&two, &ten), 20.0f);
    EXPECT_EQ(fp_Divide(&ten, &two), 5.0f);
    EXPECT_EQ(fp_GetError(), FP_ERROR_NONE);

    fp_Multiply(&big, &ten);
    EXPECT_EQ(fp_GetError(), FP_ERROR_OVERFLOW);
    fp_Divide(&ten, &zero);
    EXPECT_EQ(fp_GetError(), FP_ERROR_DIVIDE);

    // A good result later does not clear the recorded code.
    fp_Add(&two, &two);
    EXPECT_EQ(fp_GetError(), FP_ERROR_DIVIDE);

    fp_SetError(FP_ERROR_NONE);
    float inf = std::numeric_limits<float>::infinity();
    fp_Negate(&inf);
    EXPECT_EQ(fp_GetError(), FP_ERROR_OVERFLOW);
    fp_SetError(FP_ERROR_NONE);
    float nan = std::numeric_limits<float>::quiet_NaN();
    fp_Subtract(&nan, &two);
    EXPECT_EQ(fp_GetError(), FP_ERROR_OVERFLOW);
}

TEST_F(FpTest, DoubleRoundsToNearestAndOverflowsToInfinity) {
    double third = 1.0 / 3.0;
    EXPECT_EQ(fp_FromDouble(&third), 1.0f / 3.0f);
    double huge = 1e39, negHuge = -1e39;
    fp_SetCheck(1);
    EXPECT_EQ(fp_FromDouble(&huge), std::numeric_limits<float>::infinity());
    EXPECT_EQ(fp_GetError(), FP_ERROR_OVERFLOW);
    EXPECT_EQ(fp_FromDouble(&negHuge), -std::numeric_limits<float>::infinity());
    // The largest float stays finite.
    fp_SetError(FP_ERROR_NONE);
    double maxf = std::numeric_limits<float>::max();
    EXPECT_EQ(fp_FromDouble(&maxf), std::numeric_limits<float>::max());
    EXPECT_EQ(fp_GetError(), FP_ERROR_NONE);
}

} // namespace
