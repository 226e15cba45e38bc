#include "reg.h"
#include "tag.h"
#include "temp_registry.h"

#include <gtest/gtest.h>

#include <cstdint>

namespace {

void store(PlatHKey hive, const char *name, const void *data, uint32_t size,
           uint32_t type = PLAT_REG_DWORD) {
    ASSERT_EQ(reg_AccessValue(hive, REG_PRODUCT_KEY, PLAT_KEY_SET_VALUE, name, &type,
                              const_cast<void *>(data), &size),
              0u);
}

void storeDword(PlatHKey hive, const char *name, uint32_t value) {
    store(hive, name, &value, sizeof value);
}

class TagSizeTest : public ::testing::Test {
protected:
    TempRegistry registry_;
};

TEST_F(TagSizeTest, MissingValuesGiveTheMaxima) {
    EXPECT_EQ(tag_TagSize(), 15);
    EXPECT_EQ(tag_DescSize(), 32);
    EXPECT_EQ(tag_UnitsSize(), 8);
}

TEST_F(TagSizeTest, UserValueComesBeforeTheMachineValue) {
    storeDword(PLAT_HKEY_LOCAL_MACHINE, "TagSize", 10);
    EXPECT_EQ(tag_TagSize(), 10);
    storeDword(PLAT_HKEY_CURRENT_USER, "TagSize", 12);
    EXPECT_EQ(tag_TagSize(), 12);
    storeDword(PLAT_HKEY_LOCAL_MACHINE, "UnitsSize", 8);
    EXPECT_EQ(tag_UnitsSize(), 8);
}

TEST_F(TagSizeTest, UnusableValuesGiveTheMaxima) {
    storeDword(PLAT_HKEY_LOCAL_MACHINE, "DescSize", 0);
    EXPECT_EQ(tag_DescSize(), 32);
    storeDword(PLAT_HKEY_LOCAL_MACHINE, "DescSize", 33);
    EXPECT_EQ(tag_DescSize(), 32);
    const uint16_t two = 5;
    store(PLAT_HKEY_LOCAL_MACHINE, "UnitsSize", &two, sizeof two, PLAT_REG_BINARY);
    EXPECT_EQ(tag_UnitsSize(), 8);
}

} // namespace
