#include "tag.h"

int util_TestBit(const uint8_t *array, int i) {
    return (array[i >> 3] & (128 >> (i & 7))) != 0 ? 1 : 0;
}

void util_SetBit(uint8_t *array, int i) {
    array[i >> 3] |= static_cast<uint8_t>(128 >> (i & 7));
}

void util_ClearBit(uint8_t *array, int i) {
    array[i >> 3] &= static_cast<uint8_t>(~(128 >> (i & 7)));
}
