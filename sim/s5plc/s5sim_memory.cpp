#include "s5sim_memory.h"

#include <cctype>
#include <cstdlib>
#include <cstring>

namespace s5sim {

namespace {
constexpr int k_elementSize[kAreaCount] = {2, 2, 1, 1, 1, 1, 1, 2, 2, 2, 2};
constexpr uint32_t k_areaElements = 65536;
constexpr int k_defaultBlockWords = 256;

bool ParseNumber(const std::string &text, uint32_t limit, uint32_t *out) {
    if (text.empty() || !std::isdigit(static_cast<unsigned char>(text[0]))) return false;
    char *end = nullptr;
    unsigned long v = std::strtoul(text.c_str(), &end, 10);
    if (*end != '\0' || v > limit) return false;
    *out = static_cast<uint32_t>(v);
    return true;
}
} // namespace

int AreaFromLetter(int letter) {
    if (letter == 0) return -1;
    const char *p = std::strchr(kAreaLetters, letter);
    return p ? static_cast<int>(p - kAreaLetters) : -1;
}

int AreaElementSize(int area) {
    return area >= 0 && area < kAreaCount ? k_elementSize[area] : 0;
}

bool ParseLocation(const std::string &text, Location *loc, std::string *error) {
    int area =
        text.empty() ? -1 : AreaFromLetter(std::toupper(static_cast<unsigned char>(text[0])));
    if (area < 0) {
        *error = "unknown area in '" + text + "' (one of " + kAreaLetters + ")";
        return false;
    }
    std::string rest = text.substr(1);
    Location l;
    l.area = area;
    if (AreaIsBlock(area)) {
        size_t dot = rest.find('.');
        uint32_t block = 0;
        if (dot == std::string::npos || !ParseNumber(rest.substr(0, dot), 255, &block) ||
            !ParseNumber(rest.substr(dot + 1), 65535, &l.address)) {
            *error = "'" + text + "' is not BLOCK.WORD (such as D10.5)";
            return false;
        }
        l.block = static_cast<int>(block);
    } else if (!ParseNumber(rest, k_areaElements - 1, &l.address)) {
        *error = "'" + text + "' has no address 0..65535";
        return false;
    }
    *loc = l;
    return true;
}

std::string FormatLocation(const Location &loc) {
    std::string s(1, kAreaLetters[loc.area]);
    if (AreaIsBlock(loc.area)) s += std::to_string(loc.block) + ".";
    return s + std::to_string(loc.address);
}

Memory::Memory() {
    for (int a = 0; a < kAreaCount; ++a) {
        if (AreaIsBlock(a)) continue;
        if (k_elementSize[a] == 1)
            bytes_[a].assign(k_areaElements, 0);
        else
            words_[a].assign(k_areaElements, 0);
    }
    for (int a = 0; a < 2; ++a)
        for (int b = 0; b < 256; ++b)
            blocks_[a][b].assign(k_defaultBlockWords, 0);
}

void Memory::DefineBlocks(int area, const std::vector<std::pair<int, int>> &blocks) {
    if (!AreaIsBlock(area)) return;
    std::lock_guard<std::mutex> lock(mutex_);
    blocks_[area].clear();
    for (const auto &[number, words] : blocks)
        blocks_[area][number].assign(static_cast<size_t>(words), 0);
}

uint8_t *Memory::BytesAt(int area, uint32_t address, uint32_t count) {
    if (bytes_[area].empty() || address + count > bytes_[area].size()) return nullptr;
    return bytes_[area].data() + address;
}

uint16_t *Memory::WordsAt(int area, int block, uint32_t address, uint32_t count) {
    std::vector<uint16_t> *v = &words_[area];
    if (AreaIsBlock(area)) {
        auto it = blocks_[area].find(block);
        if (it == blocks_[area].end()) return nullptr;
        v = &it->second;
    }
    if (v->empty() || address + count > v->size()) return nullptr;
    return v->data() + address;
}

uint8_t Memory::Fetch(int area, uint16_t address, uint32_t count, std::vector<uint8_t> *wire) {
    std::lock_guard<std::mutex> lock(mutex_);
    wire->clear();
    if (k_elementSize[area] == 1) {
        const uint8_t *p = BytesAt(area, address, count);
        if (!p) return kErrNoMemory;
        wire->assign(p, p + count);
        return 0;
    }
    int block = AreaIsBlock(area) ? address >> 8 : 0;
    uint32_t first = AreaIsBlock(area) ? address & 0xFF : address;
    const uint16_t *p = WordsAt(area, block, first, count);
    if (!p) return kErrNoMemory;
    wire->reserve(count * 2);
    for (uint32_t i = 0; i < count; ++i) {
        wire->push_back(static_cast<uint8_t>(p[i] >> 8));
        wire->push_back(static_cast<uint8_t>(p[i]));
    }
    return 0;
}

uint8_t Memory::Store(int area, uint16_t address, uint32_t count, const uint8_t *wire) {
    std::lock_guard<std::mutex> lock(mutex_);
    if (k_elementSize[area] == 1) {
        uint8_t *p = BytesAt(area, address, count);
        if (!p) return kErrNoMemory;
        std::memcpy(p, wire, count);
        return 0;
    }
    int block = AreaIsBlock(area) ? address >> 8 : 0;
    uint32_t first = AreaIsBlock(area) ? address & 0xFF : address;
    uint16_t *p = WordsAt(area, block, first, count);
    if (!p) return kErrNoMemory;
    for (uint32_t i = 0; i < count; ++i)
        p[i] = static_cast<uint16_t>(wire[2 * i] << 8 | wire[2 * i + 1]);
    return 0;
}

bool Memory::Get(const Location &loc, uint32_t count, std::vector<uint32_t> *values,
                 std::string *error) {
    std::lock_guard<std::mutex> lock(mutex_);
    values->clear();
    if (k_elementSize[loc.area] == 1) {
        if (const uint8_t *p = BytesAt(loc.area, loc.address, count)) {
            values->assign(p, p + count);
            return true;
        }
    } else if (const uint16_t *p = WordsAt(loc.area, loc.block, loc.address, count)) {
        values->assign(p, p + count);
        return true;
    }
    *error = "no memory at " + FormatLocation(loc) + " for " + std::to_string(count);
    return false;
}

bool Memory::Set(const Location &loc, const std::vector<uint32_t> &values, std::string *error) {
    uint32_t limit = k_elementSize[loc.area] == 1 ? 0xFF : 0xFFFF;
    for (uint32_t v : values) {
        if (v > limit) {
            *error = "value " + std::to_string(v) + " does not fit " +
                     std::string(1, kAreaLetters[loc.area]);
            return false;
        }
    }
    std::lock_guard<std::mutex> lock(mutex_);
    uint32_t n = static_cast<uint32_t>(values.size());
    if (k_elementSize[loc.area] == 1) {
        uint8_t *p = BytesAt(loc.area, loc.address, n);
        if (p) {
            for (uint32_t i = 0; i < n; ++i)
                p[i] = static_cast<uint8_t>(values[i]);
            return true;
        }
    } else if (uint16_t *p = WordsAt(loc.area, loc.block, loc.address, n)) {
        for (uint32_t i = 0; i < n; ++i)
            p[i] = static_cast<uint16_t>(values[i]);
        return true;
    }
    *error = "no memory at " + FormatLocation(loc) + " for " + std::to_string(n);
    return false;
}

} // namespace s5sim
