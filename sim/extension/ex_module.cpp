// Sample extension module of the S5 driver (KSTRN_ex.so): the port text, the editable form
// of the records (which equals the stored form) and the checks of the S5 fields.
#include "ex.h"

#include <cstdio>
#include <cstring>

namespace {
// Offsets in a DeviceSlot and in the records, as the runtime and the files lay them out.
constexpr int k_slotNumber = 34;
constexpr int k_slotPort = 64; // DeviceConfig byte 4: the port name, 8 characters
constexpr int k_slotBaud = 72; // DeviceConfig byte 12
constexpr int k_configDataFormat = 19;
constexpr int k_configParity = 20;
constexpr int k_recordType = 24;
constexpr int k_analogueAddress = 188;
constexpr int k_digitalAddress = 192;
constexpr int k_maxDataFormat = 8;
constexpr int k_maxParity = 4;
constexpr int k_maxBit = 15;
constexpr int k_maxArea = 10;

void setMessage(char *err, int errSize, const char *text) {
    if (err != nullptr && errSize > 0) snprintf(err, static_cast<size_t>(errSize), "%s", text);
}
} // namespace

extern "C" {

int Ex_Get_Config_Port(void *slot, int size, char *text) {
    if (text == nullptr || size <= 0) return 0;
    const unsigned char *s = static_cast<const unsigned char *>(slot);
    char port[9] = {};
    memcpy(port, s + k_slotPort, 8);
    uint16_t number;
    memcpy(&number, s + k_slotNumber, sizeof number);
    uint32_t baud;
    memcpy(&baud, s + k_slotBaud, sizeof baud);
    char name[16];
    if (port[0] == '\0')
        snprintf(name, sizeof name, "COM%d", number);
    else
        snprintf(name, sizeof name, "%s", port);
    snprintf(text, static_cast<size_t>(size), "%s %u", name, baud != 0 ? baud : 9600u);
    return 0;
}

int Ex_Decorated_Config_Size(int size) {
    return size;
}

int Ex_Undecorate_Config(ExBuffer *record) {
    if (record != nullptr) record->owned = 0;
    return 0;
}

int Ex_Decorate_Config(ExBuffer *editable, void *record) {
    if (editable != nullptr && record != nullptr && editable->data != nullptr &&
        editable->size > 0 && editable->data != record)
        memcpy(record, editable->data, static_cast<size_t>(editable->size));
    if (editable != nullptr) editable->owned = 0;
    return 0;
}

int Ex_Undecorate_Channel_Hw(int, int, ExBuffer *record) {
    if (record != nullptr) record->owned = 0;
    return 0;
}

int Ex_Decorate_Channel_Hw(int, int, ExBuffer *record) {
    if (record != nullptr) record->owned = 0;
    return 0;
}

int Ex_Validate_Device(const char *, void *record, char *err, int errSize) {
    const unsigned char *r = static_cast<const unsigned char *>(record);
    if (r == nullptr) return 0;
    char text[EX_MESSAGE_SIZE];
    if (r[k_configDataFormat] > k_maxDataFormat) {
        snprintf(text, sizeof text, "DataFormat %d IS NOT 0 TO %d", r[k_configDataFormat],
                 k_maxDataFormat);
        setMessage(err, errSize, text);
        return -1;
    }
    if (r[k_configParity] > k_maxParity) {
        snprintf(text, sizeof text, "Parity %d IS NOT 0 TO %d", r[k_configParity], k_maxParity);
        setMessage(err, errSize, text);
        return -1;
    }
    return 0;
}

int Ex_Validate_Chan(const char *, void *record, char *err, int errSize) {
    const unsigned char *r = static_cast<const unsigned char *>(record);
    if (r == nullptr) return 0;
    // An odd type byte uses the digital layout.
    const unsigned char *address =
        r + ((r[k_recordType] & 1) != 0 ? k_digitalAddress : k_analogueAddress);
    char text[EX_MESSAGE_SIZE];
    if (address[4] > k_maxBit) {
        snprintf(text, sizeof text, "BitNumber %d IS NOT 0 TO %d", address[4], k_maxBit);
        setMessage(err, errSize, text);
        return -1;
    }
    if ((address[1] & 0x1F) > k_maxArea) {
        snprintf(text, sizeof text, "Area %d IS NOT 0 TO %d", address[1] & 0x1F, k_maxArea);
        setMessage(err, errSize, text);
        return -1;
    }
    return 0;
}

int Ex_Get_Mixed_Channel_Type(void) {
    return 0;
}
}
