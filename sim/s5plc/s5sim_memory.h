// Memory of the simulated controller: the S5 areas as the controller sees them.
//
// D and X hold one word array per block (DB/DX 0..255); E, A, P, Q and M are byte areas of
// 65536 bytes; Z, T, B and S are word areas of 65536 words. The wire carries every element high
// byte first; this module converts between that and the element values it keeps.
#pragma once

#include <cstdint>
#include <map>
#include <mutex>
#include <string>
#include <vector>

namespace s5sim {

constexpr int kAreaCount = 11;
constexpr char kAreaLetters[] = "DXEAPQMZTBS";

// Area index of an RK512 letter ('D' -> 0 ... 'S' -> 10), -1 for any other byte.
int AreaFromLetter(int letter);
// Element size in bytes of an area (1 or 2).
int AreaElementSize(int area);
// D and X address a word inside a block.
inline bool AreaIsBlock(int area) {
    return area == 0 || area == 1;
}

// Error byte of a controller reply for an address outside the memory.
constexpr uint8_t kErrNoMemory = 0x0A;
// Error byte for a telegram the controller cannot take.
constexpr uint8_t kErrBadTelegram = 0x0C;

// One place in memory: area, block (D/X only) and element address (data word for D/X).
struct Location {
    int area = 0;
    int block = 0;
    uint32_t address = 0;
};

// Parses "D10.5" / "X3.0" (block.word) or an area letter plus a decimal address ("M7", "T12").
bool ParseLocation(const std::string &text, Location *loc, std::string *error);
std::string FormatLocation(const Location &loc);

class Memory {
public:
    Memory();

    // Replaces the blocks of D (area 0) or X (area 1) by the listed ones, each (number, words).
    // Without a call every block 0..255 exists with 256 words.
    void DefineBlocks(int area, const std::vector<std::pair<int, int>> &blocks);

    // RK512 access: the 16-bit telegram address (block in the high byte for D/X) and an
    // element count. Returns 0, or the error byte when the range is not all there.
    uint8_t Fetch(int area, uint16_t address, uint32_t count, std::vector<uint8_t> *wire);
    uint8_t Store(int area, uint16_t address, uint32_t count, const uint8_t *wire);

    // Element values for tests and the command input; false with a text when out of range.
    bool Get(const Location &loc, uint32_t count, std::vector<uint32_t> *values,
             std::string *error);
    bool Set(const Location &loc, const std::vector<uint32_t> &values, std::string *error);

private:
    // Where the elements live, or null when the range is not all there.
    uint8_t *BytesAt(int area, uint32_t address, uint32_t count);
    uint16_t *WordsAt(int area, int block, uint32_t address, uint32_t count);

    std::mutex mutex_;
    std::vector<uint8_t> bytes_[kAreaCount];
    std::vector<uint16_t> words_[kAreaCount];
    std::map<int, std::vector<uint16_t>> blocks_[2];
};

} // namespace s5sim
