#include "tag.h"

#include "reg.h"

// The configuration may lower the text limits through the product's DWORD values "TagSize",
// "DescSize" and "UnitsSize", the user's setting before the machine's. A value that is
// missing, not 4 bytes, 0 or above the record's room gives the room itself.
namespace {
constexpr int TAG_SIZE_MAX = 15;
constexpr int DESC_SIZE_MAX = 32;
constexpr int UNITS_SIZE_MAX = 8;

int readSize(const char *valueName, int maximum) {
    uint32_t value = 0;
    uint32_t size = sizeof value;
    uint32_t type = 0;
    if (reg_AccessValue(PLAT_HKEY_CURRENT_USER, REG_PRODUCT_KEY, PLAT_KEY_QUERY_VALUE, valueName,
                        &type, &value, &size) != 0) {
        value = 0;
        size = sizeof value;
        if (reg_AccessValue(PLAT_HKEY_LOCAL_MACHINE, REG_PRODUCT_KEY, PLAT_KEY_QUERY_VALUE,
                            valueName, &type, &value, &size) != 0)
            return maximum;
    }
    if (size != sizeof value || value == 0 || value > static_cast<uint32_t>(maximum))
        return maximum;
    return static_cast<int>(value);
}
} // namespace

int tag_TagSize() {
    return readSize("TagSize", TAG_SIZE_MAX);
}

int tag_DescSize() {
    return readSize("DescSize", DESC_SIZE_MAX);
}

int tag_UnitsSize() {
    return readSize("UnitsSize", UNITS_SIZE_MAX);
}
