#include "dbg.h"

#include "ewf.h"
#include "plat_debugout.h"
#include "plat_file.h"
#include "plat_filecreate.h"
#include "reg.h"

#include <cctype>
#include <cerrno>
#include <cstring>
#include <strings.h>

namespace {
constexpr size_t DEVICE_NAME_MAX = 132;
constexpr size_t LINE_LIMIT = DBG_LINE_BUFFER - 1; // the buffer never holds more

const char *const k_counterSuffixes[DBG_COUNTER_LOCATIONS] = {
    "_DebugRxCount",          "_DebugTxCount",          "_DebugRxTimeoutCount",
    "_DebugTxTimeoutCount",   "_DebugRxCommErrorCount", "_DebugTxCommErrorCount",
    "_DebugRxCRCErrorCount",  "_DebugTxCRCErrorCount",  "_DebugRxGoodPacketCount",
    "_DebugTxGoodPacketCount"};
} // namespace

DebugTrace::DebugTrace(const char *deviceName) {
    device_ = deviceName != nullptr ? deviceName : "";
    if (device_.size() > DEVICE_NAME_MAX) device_.resize(DEVICE_NAME_MAX);
    std::string keyPath = std::string(REG_MAKER_KEY "\\") + reg_GetProductName();
    PlatHKey key = 0;
    if (ewf_RegCreateKeyEx(PLAT_HKEY_LOCAL_MACHINE, keyPath.c_str(), PLAT_REG_OPTION_NON_VOLATILE,
                           PLAT_KEY_ALL_ACCESS, &key, nullptr) != 0)
        return;
    key_ = key;
    usable_ = 1;
    Reload();
}

DebugTrace::~DebugTrace() {
    if (fileFd_ >= 0) plat_FileClose(fileFd_);
    if (usable_) plat_RegCloseKey(key_);
}

std::string DebugTrace::readText(const char *suffix, bool *present) const {
    std::string name = device_ + suffix;
    char buffer[1024] = {};
    uint32_t type = 0;
    uint32_t size = sizeof buffer - 1;
    uint32_t rc = plat_RegQueryValue(key_, name.c_str(), &type, buffer, &size);
    if (present != nullptr) *present = rc == 0;
    if (rc != 0) return "";
    buffer[sizeof buffer - 1] = '\0';
    return std::string(buffer, strnlen(buffer, size));
}

void DebugTrace::Reload() {
    if (!usable_) return;
    plat_RegNotifyArm(key_);
    bool present = false;
    std::string debug = readText("_Debug", &present);
    int on = present && strncasecmp(debug.c_str(), "ON", 2) == 0 ? 1 : 0;
    if (on == enabled_) return;
    enabled_ = on;

    if (on) {
        flags_ = DBG_OUT_DEBUGGER;
        line_.clear();
        std::string type = readText("_DebugType", nullptr);
        if (type.find("CON") != std::string::npos) flags_ |= DBG_OUT_CONSOLE;
        if (type.find("FILE") != std::string::npos) flags_ |= DBG_OUT_FILE;
    } else {
        flags_ = 0;
    }

    if (flags_ & DBG_OUT_FILE) {
        if (fileFd_ < 0) {
            bool named = false;
            std::string path = readText("_DebugFile", &named);
            // Without a usable file the trace goes on without file output until the next
            // switch-on.
            if (named && !path.empty()) fileFd_ = plat_FileCreateTruncated(path.c_str());
            if (fileFd_ < 0) fileFd_ = -1;
        }
    } else if (fileFd_ >= 0) {
        plat_FileClose(fileFd_);
        fileFd_ = -1;
    }
    // Standard output stays open: without the console flag it is only not written.

    for (auto &c : counters_)
        c = DebugCounterLocation{};
    if (on)
        for (int i = 0; i < DBG_COUNTER_LOCATIONS; ++i)
            ParseCounterLocation(readText(k_counterSuffixes[i], nullptr).c_str(), &counters_[i]);
}

void DebugTrace::sendLine() {
    plat_DebugOutput(line_.c_str());
    line_.clear();
}

void DebugTrace::Write(const char *text) {
    if (text == nullptr || !usable_) return;
    if (plat_RegNotifyChanged(key_)) Reload();
    size_t length = strlen(text);
    if (flags_ & DBG_OUT_CONSOLE) plat_ConsoleWrite(text, length);
    if ((flags_ & DBG_OUT_FILE) && fileFd_ >= 0) plat_FileWriteAll(fileFd_, text, length);
    if (flags_ & DBG_OUT_DEBUGGER) {
        if (line_.empty()) line_ = device_ + " : ";
        if (line_.size() + length <= LINE_LIMIT - 1)
            line_.append(text, length);
        else if (line_.size() < LINE_LIMIT)
            line_.append(text, LINE_LIMIT - line_.size());
        if (length > 0 && text[length - 1] == '\n') sendLine();
    }
}

int DebugTrace::ParseCounterLocation(const char *text, DebugCounterLocation *out) {
    *out = DebugCounterLocation{};
    if (text == nullptr) return -1;
    size_t length = strlen(text);
    if (length == 0 || length > 7 || !isalpha(static_cast<unsigned char>(text[0]))) return -1;
    char code[3] = {};
    size_t i = 0;
    while (i < length && isalpha(static_cast<unsigned char>(text[i]))) {
        if (i == 2) return -1;
        code[i] = static_cast<char>(toupper(static_cast<unsigned char>(text[i])));
        ++i;
    }
    if (i == length) return -1;
    int number = 0;
    for (; i < length; ++i) {
        if (!isdigit(static_cast<unsigned char>(text[i]))) return -1;
        number = number * 10 + (text[i] - '0');
    }
    if (number < 1 || number > 10000) return -1;
    memcpy(out->code, code, sizeof code);
    out->number = static_cast<uint16_t>(number);
    return 0;
}
