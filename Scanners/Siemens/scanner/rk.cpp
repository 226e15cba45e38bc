#include "rk.h"

#include "plat_error.h"

#include <bit>
#include <cstring>
#include <vector>

static_assert(std::endian::native == std::endian::little,
              "element conversion assumes a little-endian host");

namespace {

constexpr uint8_t RK_FETCH = 'E';
constexpr uint8_t RK_SEND = 'A';

int Finish(S5RequestBlock *block, uint32_t status) {
    block->status = status;
    plat_SetLastError(status);
    return 0;
}

// Checks a received reply. Only a reaction telegram (00 00 00 e) is an answer to our
// command; anything else, such as a job the controller started itself, is not read as one.
uint32_t ReplyStatus(const uint8_t *reply, int length) {
    if (length < 4 || reply[0] != 0 || reply[1] != 0 || reply[2] != 0) return LINK_ERR_UNEXPECTED;
    if (reply[3] != 0) return PLC_ERROR_BASE | reply[3];
    return 0;
}

} // namespace

void rk_BuildHeader(uint8_t *out, uint8_t command, const S5RequestBlock &block) {
    out[0] = 0;
    out[1] = 0;
    out[2] = command;
    out[3] = static_cast<uint8_t>(S5_AREA_LETTERS[s5_TypeArea(block.type)]);
    out[4] = static_cast<uint8_t>(block.start >> 8);
    out[5] = static_cast<uint8_t>(block.start);
    out[6] = static_cast<uint8_t>(block.count >> 8);
    out[7] = static_cast<uint8_t>(block.count);
    out[8] = 0xFF;
    out[9] = 0xFF;
}

void rk_SwapBytes(uint8_t *a, uint8_t *b) {
    uint8_t t = *a;
    *a = *b;
    *b = t;
}

int rk_SwapElements(uint8_t *data, int element_size, int count) {
    if (element_size == 1) return 1;
    if (element_size != 2 && element_size != 4 && element_size != 8) return 0;
    for (int i = 0; i < count; ++i) {
        uint8_t *e = data + i * element_size;
        for (int lo = 0, hi = element_size - 1; lo < hi; ++lo, --hi)
            rk_SwapBytes(e + lo, e + hi);
    }
    return 1;
}

int rk_Fetch(S5RequestBlock *block) {
    uint8_t area = s5_TypeArea(block->type);
    if (area >= S5_AREA_COUNT) return Finish(block, WERR_INVALID_PARAMETER);
    const int element = S5_ELEMENT_SIZE[area];
    const int wanted = block->count * element;

    uint8_t command[RK_HEADER_SIZE];
    rk_BuildHeader(command, RK_FETCH, *block);
    link_PurgePort();
    if (!link_SendBlock(command, RK_HEADER_SIZE)) return Finish(block, plat_GetLastError());

    uint8_t reply[RK_FETCH_REPLY_CAPACITY];
    int length = link_ReceiveReply(reply, RK_FETCH_REPLY_CAPACITY);
    if (length == 0) return Finish(block, plat_GetLastError());
    if (uint32_t status = ReplyStatus(reply, length); status != 0) return Finish(block, status);

    int elements = (length - 4) / element;
    if (elements < block->count) return Finish(block, LINK_ERR_TOO_SHORT);
    if (elements > block->count) return Finish(block, LINK_ERR_TOO_LONG);
    // Exactly the requested elements: a spare odd byte would land in the bitmap behind them.
    std::memcpy(block->data, reply + 4, static_cast<size_t>(wanted));
    rk_SwapElements(block->data, element, block->count);
    block->status = 0;
    plat_SetLastError(0);
    return wanted;
}

int rk_Send(S5RequestBlock *block) {
    uint8_t area = s5_TypeArea(block->type);
    if (area >= S5_AREA_COUNT) return Finish(block, WERR_INVALID_PARAMETER);
    const int element = S5_ELEMENT_SIZE[area];
    const int bytes = block->count * element;

    std::vector<uint8_t> telegram(static_cast<size_t>(RK_HEADER_SIZE + bytes));
    rk_BuildHeader(telegram.data(), RK_SEND, *block);
    if (bytes > 0)
        std::memcpy(telegram.data() + RK_HEADER_SIZE, block->data, static_cast<size_t>(bytes));
    rk_SwapElements(telegram.data() + RK_HEADER_SIZE, element, block->count);
    link_PurgePort();
    if (!link_SendBlock(telegram.data(), static_cast<int>(telegram.size())))
        return Finish(block, plat_GetLastError());

    uint8_t reply[RK_SEND_REPLY_CAPACITY];
    int length = link_ReceiveReply(reply, RK_SEND_REPLY_CAPACITY);
    if (length == 0) return Finish(block, plat_GetLastError());
    if (uint32_t status = ReplyStatus(reply, length); status != 0) return Finish(block, status);
    block->status = 0;
    plat_SetLastError(0);
    return 1;
}
