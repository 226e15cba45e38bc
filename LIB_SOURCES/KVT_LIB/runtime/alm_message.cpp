// The fields every alarm message shares.
#include "alm.h"

#include <cstring>

namespace {
// Copies at most max characters and always leaves a NUL inside the field.
void copyBounded(char *field, size_t max, const char *text) {
    if (text == nullptr) return;
    size_t n = strnlen(text, max);
    memcpy(field, text, n);
    field[n] = '\0';
}
} // namespace

void alm_FillMessage(AlarmMessage *message, uint32_t bits, const float *value, const char *computer,
                     const char *user) {
    message->bits = bits;
    if (value != nullptr) {
        message->value = *value;
    } else {
        memcpy(&message->value, &ALM_NO_VALUE, sizeof message->value);
    }
    copyBounded(message->computer, ALM_COMPUTER_MAX, computer);
    copyBounded(message->user, ALM_USER_MAX, user);
    message->flags = 0;
}
