#include "plat_dialog.h"

#include <cstdint>
#include <string>

const char PLAT_MSG_PARSE_BYTE[] = "Please enter an integer between 0 and 255.";
const char PLAT_MSG_PARSE_UINT[] = "Please enter a positive integer.";
const char PLAT_MSG_PARSE_INT[] = "Please enter an integer.";

std::string plat_RangeMessage(long long min, long long max) {
    return "Please enter an integer between " + std::to_string(min) + " and " +
           std::to_string(max) + ".";
}

std::string plat_MaxCharsMessage(int count) {
    return "Please enter no more than " + std::to_string(count) + " characters.";
}

void PlatDataExchange::Fail(const std::string &message) {
    if (failed_) return;
    failed_ = true;
    failedId_ = lastId_;
    plat_MessageBox(message.c_str(), nullptr, PLAT_MB_OK | PLAT_MB_ICONEXCLAMATION);
}

namespace {

bool IsBlank(char c) {
    return c == ' ' || c == '\t' || c == '\r' || c == '\n' || c == '\v' || c == '\f';
}

// Blanks, a sign, decimal digits, blanks; the magnitude must fit 32 bits.
bool ParseNumber(const std::string &text, bool allowMinus, bool *negative, uint32_t *magnitude) {
    size_t i = 0, n = text.size();
    while (i < n && IsBlank(text[i]))
        ++i;
    *negative = false;
    if (i < n && (text[i] == '+' || text[i] == '-')) {
        if (text[i] == '-') {
            if (!allowMinus) return false;
            *negative = true;
        }
        ++i;
    }
    size_t digits = i;
    uint64_t value = 0;
    while (i < n && text[i] >= '0' && text[i] <= '9') {
        value = value * 10 + static_cast<uint64_t>(text[i] - '0');
        if (value > UINT32_MAX) return false;
        ++i;
    }
    if (i == digits) return false;
    while (i < n && IsBlank(text[i]))
        ++i;
    if (i != n) return false;
    *magnitude = static_cast<uint32_t>(value);
    return true;
}

PlatControl *Exchanged(PlatDataExchange *dx, int id) {
    if (dx->Failed()) return nullptr;
    dx->SetLastControl(id);
    return dx->Dialog()->Find(id);
}

} // namespace

bool plat_ParseUnsigned(const std::string &text, unsigned *value) {
    bool negative;
    uint32_t magnitude;
    if (!ParseNumber(text, false, &negative, &magnitude)) return false;
    *value = magnitude;
    return true;
}

bool plat_ParseInt(const std::string &text, int *value) {
    bool negative;
    uint32_t magnitude;
    if (!ParseNumber(text, true, &negative, &magnitude)) return false;
    if (negative ? magnitude > 0x80000000u : magnitude > 0x7FFFFFFFu) return false;
    *value =
        negative ? static_cast<int>(-static_cast<int64_t>(magnitude)) : static_cast<int>(magnitude);
    return true;
}

void DDX_Text(PlatDataExchange *dx, int id, uint8_t &value) {
    PlatControl *c = Exchanged(dx, id);
    if (c == nullptr) return;
    if (!dx->Saving()) {
        c->text = std::to_string(value);
        return;
    }
    unsigned parsed;
    if (!plat_ParseUnsigned(c->text, &parsed) || parsed > 255) return dx->Fail(PLAT_MSG_PARSE_BYTE);
    value = static_cast<uint8_t>(parsed);
}

void DDX_Text(PlatDataExchange *dx, int id, unsigned &value) {
    PlatControl *c = Exchanged(dx, id);
    if (c == nullptr) return;
    if (!dx->Saving()) {
        c->text = std::to_string(value);
        return;
    }
    unsigned parsed;
    if (!plat_ParseUnsigned(c->text, &parsed)) return dx->Fail(PLAT_MSG_PARSE_UINT);
    value = parsed;
}

void DDX_Text(PlatDataExchange *dx, int id, int &value) {
    PlatControl *c = Exchanged(dx, id);
    if (c == nullptr) return;
    if (!dx->Saving()) {
        c->text = std::to_string(value);
        return;
    }
    int parsed;
    if (!plat_ParseInt(c->text, &parsed)) return dx->Fail(PLAT_MSG_PARSE_INT);
    value = parsed;
}

void DDX_Text(PlatDataExchange *dx, int id, std::string &value) {
    PlatControl *c = Exchanged(dx, id);
    if (c == nullptr) return;
    if (dx->Saving())
        value = c->text;
    else
        c->text = value;
}

void DDX_Check(PlatDataExchange *dx, int id, int &value) {
    PlatControl *c = Exchanged(dx, id);
    if (c == nullptr) return;
    if (dx->Saving())
        value = c->check;
    else
        c->check = value != 0 ? 1 : 0;
}

void DDX_CBIndex(PlatDataExchange *dx, int id, int &value) {
    PlatControl *c = Exchanged(dx, id);
    if (c == nullptr) return;
    if (dx->Saving())
        value = c->selection;
    else
        dx->Dialog()->ComboSetSel(id, value);
}

void DDV_MinMaxByte(PlatDataExchange *dx, uint8_t value, uint8_t min, uint8_t max) {
    if (!dx->Saving() || dx->Failed()) return;
    if (value < min || value > max) dx->Fail(plat_RangeMessage(min, max));
}

void DDV_MinMaxUInt(PlatDataExchange *dx, unsigned value, unsigned min, unsigned max) {
    if (!dx->Saving() || dx->Failed()) return;
    if (value < min || value > max) dx->Fail(plat_RangeMessage(min, max));
}

void DDV_MaxChars(PlatDataExchange *dx, const std::string &value, int count) {
    if (!dx->Saving() || dx->Failed()) return;
    if (static_cast<int>(value.size()) > count) dx->Fail(plat_MaxCharsMessage(count));
}
