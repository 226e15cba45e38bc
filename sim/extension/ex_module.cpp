// Sample extension module of the S5 driver (KSTRN_ex.so): the editable form of the records
// (the stored form with the run-time block link cleared) and the checks of the S5 fields.
#include "ex.h"
#include "ex_options.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

namespace {
constexpr int k_recordSize = 216;
constexpr int k_configDataFormat = 19;
constexpr int k_configParity = 20;
constexpr int k_recordType = 24;
constexpr int k_analogueAddress = 188;
constexpr int k_digitalAddress = 192;
constexpr int k_blockLink = 8; // in the device part: written by the scanner at run time
constexpr int k_maxDataFormat = 8;
constexpr int k_maxParity = 4;
constexpr int k_maxBit = 15;
constexpr int k_maxArea = 10;
constexpr const char *k_refused = "refused by test option";

void setMessage(char *err, int errSize, const char *text) {
    if (err != nullptr && errSize > 0) snprintf(err, static_cast<size_t>(errSize), "%s", text);
}

// With "owned", hands the block back as a malloc'ed copy the caller frees.
void maybeOwn(ExBuffer *buffer) {
    if (buffer == nullptr) return;
    buffer->owned = 0;
    if (!ex_Option("owned") || buffer->data == nullptr || buffer->size <= 0) return;
    void *copy = malloc(static_cast<size_t>(buffer->size));
    if (copy == nullptr) return;
    memcpy(copy, buffer->data, static_cast<size_t>(buffer->size));
    buffer->data = copy;
    buffer->owned = 1;
}

void clearBlockLink(ExBuffer *record) {
    if (record == nullptr || record->data == nullptr || record->size < k_recordSize) return;
    auto *r = static_cast<unsigned char *>(record->data);
    int part = (r[k_recordType] & 1) != 0 ? k_digitalAddress : k_analogueAddress;
    memset(r + part + k_blockLink, 0, 4);
}
} // namespace

extern "C" {

int Ex_DoXml(void) {
    return 1;
}

int Ex_Decorated_Config_Size(int size) {
    return size;
}

int Ex_Undecorate_Config(ExBuffer *record) {
    maybeOwn(record);
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
    clearBlockLink(record);
    maybeOwn(record);
    return 0;
}

int Ex_Decorate_Channel_Hw(int, int, ExBuffer *record) {
    if (record != nullptr) record->owned = 0;
    clearBlockLink(record);
    return 0;
}

int Ex_Validate_Device(const char *, void *record, char *err, int errSize) {
    const unsigned char *r = static_cast<const unsigned char *>(record);
    if (ex_Option("fail")) {
        setMessage(err, errSize, k_refused);
        return -1;
    }
    if (r == nullptr) return 0;
    char text[EX_MESSAGE_SIZE];
    if (r[k_configDataFormat] > k_maxDataFormat) {
        snprintf(text, sizeof text, "DataFormat %u out of range 0..%d", r[k_configDataFormat],
                 k_maxDataFormat);
        setMessage(err, errSize, text);
        return -1;
    }
    if (r[k_configParity] > k_maxParity) {
        snprintf(text, sizeof text, "Parity %u out of range 0..%d", r[k_configParity], k_maxParity);
        setMessage(err, errSize, text);
        return -1;
    }
    return 0;
}

int Ex_Validate_Chan(const char *, void *record, char *err, int errSize) {
    const unsigned char *r = static_cast<const unsigned char *>(record);
    if (ex_Option("fail")) {
        setMessage(err, errSize, k_refused);
        return -1;
    }
    if (r == nullptr) return 0;
    // An odd type byte uses the digital layout.
    const unsigned char *address =
        r + ((r[k_recordType] & 1) != 0 ? k_digitalAddress : k_analogueAddress);
    char text[EX_MESSAGE_SIZE];
    if (address[4] > k_maxBit) {
        snprintf(text, sizeof text, "BitNumber %u out of range 0..%d", address[4], k_maxBit);
        setMessage(err, errSize, text);
        return -1;
    }
    if ((address[1] & 0x1F) > k_maxArea) {
        snprintf(text, sizeof text, "Area %u out of range 0..%d", address[1] & 0x1Fu, k_maxArea);
        setMessage(err, errSize, text);
        return -1;
    }
    return 0;
}

int Ex_Get_Mixed_Channel_Type(void) {
    return ex_Option("mixed") ? 1 : 0;
}

// The extra blocks carry nothing that needs converting or checking.
int Ex_Decorate_Config_Extra(void *, int, ExBuffer *extra) {
    if (extra != nullptr) extra->owned = 0;
    return 0;
}

int Ex_Undecorate_Config_Extra(void *, int, ExBuffer *extra) {
    if (extra != nullptr) extra->owned = 0;
    return 0;
}

int Ex_Validate_Device_Extra(const char *, void *, void *, int, char *, int) {
    return 0;
}

int Ex_Decorate_Channel_Extra(int, int, void *, ExBuffer *extra) {
    if (extra != nullptr) extra->owned = 0;
    return 0;
}

int Ex_Undecorate_Channel_Extra(int, int, void *, ExBuffer *extra) {
    if (extra != nullptr) extra->owned = 0;
    return 0;
}

int Ex_Validate_Chan_Extra(const char *, void *, void *, int, char *, int) {
    return 0;
}
}
