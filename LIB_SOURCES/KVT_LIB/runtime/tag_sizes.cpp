#include "tag.h"

// The configuration may lower these limits through the product's registry values "TagSize",
// "DescSize" and "UnitsSize"; a missing value gives the maximum, which is what these return
// until the registry store is in place.
namespace {
constexpr int TAG_SIZE_MAX = 15;
constexpr int DESC_SIZE_MAX = 32;
constexpr int UNITS_SIZE_MAX = 8;
} // namespace

int tag_TagSize() {
    return TAG_SIZE_MAX;
}

int tag_DescSize() {
    return DESC_SIZE_MAX;
}

int tag_UnitsSize() {
    return UNITS_SIZE_MAX;
}
