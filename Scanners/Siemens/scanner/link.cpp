// 3964R: start handshake (STX / DLE), DLE transparency, DLE ETX end sequence and the optional
// block check character (XOR of every byte after STX as it is on the line).
#include "link.h"

#include "link_report.h"
#include "plat_error.h"

#include <vector>

namespace {

LinkSettings g_settings;

// A block the partner starts during a low-priority conflict is taken in full and dropped.
constexpr int CONFLICT_BLOCK_CAPACITY = 140;

// Frame and received bytes as on the line, reused from block to block.
std::vector<uint8_t> g_frame;
std::vector<uint8_t> g_wire;

int Fail(uint32_t code) {
    plat_SetLastError(code);
    return 0;
}

// The attempts of a send or a receive; a setting below 1 still makes one attempt, so that a
// failure always carries the code of an attempt.
int Attempts() {
    return g_settings.retries > 0 ? g_settings.retries : 1;
}

int ReadByte(uint8_t &b, int timeout_ms) {
    return link_ReadBytes(&b, 1, timeout_ms);
}

// Frame after STX: data with each DLE doubled, DLE ETX, then the BCC over all of it.
void BuildFrame(const uint8_t *data, int length) {
    g_frame.clear();
    g_frame.push_back(LINK_STX);
    for (int i = 0; i < length; ++i) {
        g_frame.push_back(data[i]);
        if (data[i] == LINK_DLE) g_frame.push_back(LINK_DLE);
    }
    g_frame.push_back(LINK_DLE);
    g_frame.push_back(LINK_ETX);
    if (g_settings.bcc) {
        uint8_t bcc = 0;
        for (size_t i = 1; i < g_frame.size(); ++i)
            bcc ^= g_frame[i];
        g_frame.push_back(bcc);
    }
}

// The receiving half; `g_wire` collects the block as it was on the line, STX included.
int ReceiveBlock(uint8_t *buf, int capacity) {
    link_SendDle();
    g_wire.clear();
    g_wire.push_back(LINK_STX);
    const int delay = g_settings.char_delay;
    uint8_t bcc = 0;
    int count = 0;
    for (;;) {
        uint8_t b;
        if (!ReadByte(b, delay)) return Fail(LINK_ERR_TIMEOUT);
        g_wire.push_back(b);
        bcc ^= b;
        if (b == LINK_DLE) {
            if (!ReadByte(b, delay)) return Fail(LINK_ERR_TIMEOUT);
            g_wire.push_back(b);
            bcc ^= b;
            if (b == LINK_ETX) break;
            if (b != LINK_DLE) return Fail(LINK_ERR_DLE);
        }
        // A data byte (of a DLE pair, one DLE).
        if (count == capacity) return Fail(LINK_ERR_TOO_LONG);
        buf[count++] = b;
    }
    if (g_settings.bcc) {
        uint8_t check;
        if (!ReadByte(check, delay)) return Fail(count < 4 ? LINK_ERR_TOO_SHORT : LINK_ERR_TIMEOUT);
        g_wire.push_back(check);
        // A block too short to be a reply is refused whatever its check says, but its check
        // byte is taken off the line first: left there, it would be read as the answer to
        // our next STX (or, being 0x02, as the partner's next STX).
        if (count < 4) return Fail(LINK_ERR_TOO_SHORT);
        if (check != bcc) return Fail(LINK_ERR_BCC);
    } else if (count < 4) {
        return Fail(LINK_ERR_TOO_SHORT);
    }
    if (!link_SendDle()) return 0;
    return count;
}

} // namespace

LinkSettings &link_Settings() {
    return g_settings;
}

void link_ResetSettings() {
    g_settings = LinkSettings();
}

int link_SetBccMode(int mode) {
    if (mode == 1)
        g_settings.bcc = 1;
    else if (mode == 2)
        g_settings.bcc = 0;
    return g_settings.bcc ? 1 : 0;
}

int link_SendDle() {
    static const uint8_t dle = LINK_DLE;
    return link_WriteBytes(&dle, 1, g_settings.char_delay);
}

int link_SendNak() {
    static const uint8_t nak = LINK_NAK;
    return link_WriteBytes(&nak, 1, g_settings.char_delay);
}

int link_WaitAck() {
    uint8_t b;
    if (!ReadByte(b, g_settings.ack_timeout)) return Fail(LINK_ERR_TIMEOUT);
    switch (b) {
    case LINK_DLE:
        return 1;
    case LINK_NAK:
        return Fail(LINK_ERR_NAK);
    case LINK_STX:
        return Fail(LINK_ERR_CONFLICT);
    default:
        return Fail(LINK_ERR_UNEXPECTED);
    }
}

int link_WaitStx() {
    uint8_t b;
    do {
        if (!ReadByte(b, g_settings.block_wait)) return Fail(LINK_ERR_TIMEOUT);
    } while (b != LINK_STX);
    return 1;
}

int link_ReceiveBlock(uint8_t *buf, int capacity) {
    int n = ReceiveBlock(buf, capacity);
    if (n > 0) link_TraceBlock("RX ", g_wire.data(), static_cast<int>(g_wire.size()));
    return n;
}

int link_SendBlock(const uint8_t *data, int length) {
    BuildFrame(data, length);
    const int frame_bytes = static_cast<int>(g_frame.size()) - 1;
    const int conflict_bound = Attempts();
    int attempts = Attempts();
    int conflicts = 0;
    while (attempts > 0) {
        if (!link_WriteBytes(g_frame.data(), 1, g_settings.write_timeout)) {
            link_CountSendFailure();
            link_TraceFailure("TX ", plat_GetLastError());
            return 0;
        }
        bool acked = false;
        bool restart = false;
        for (;;) {
            if (link_WaitAck()) {
                acked = true;
                break;
            }
            if (plat_GetLastError() != LINK_ERR_CONFLICT) break;
            // Both sides started at once. Up to the bound, the conflict costs no attempt;
            // beyond it every conflict does, so a partner that always answers STX with STX
            // cannot keep a send (and the scanner's stop) waiting for ever.
            bool free_conflict = ++conflicts <= conflict_bound;
            if (g_settings.priority) {
                if (free_conflict) continue; // we keep our block: wait for the partner to yield
                break;
            }
            uint8_t dropped[CONFLICT_BLOCK_CAPACITY];
            if (link_ReceiveBlock(dropped, CONFLICT_BLOCK_CAPACITY) == 0) link_SendNak();
            if (free_conflict)
                restart = true;
            else
                plat_SetLastError(LINK_ERR_CONFLICT);
            break;
        }
        if (restart) continue;
        if (!acked) {
            link_CountSendFailure();
            link_TraceFailure("TX ", plat_GetLastError());
            --attempts;
            continue;
        }
        if (!link_WriteBytes(g_frame.data() + 1, frame_bytes, g_settings.write_timeout)) {
            link_CountSendFailure();
            link_TraceFailure("TX ", plat_GetLastError());
            return 0;
        }
        link_TraceBlock("TX ", g_frame.data(), frame_bytes + 1);
        if (link_WaitAck()) {
            link_CountSent(frame_bytes + 1);
            return 1;
        }
        link_CountSendFailure();
        link_TraceFailure("TX ", plat_GetLastError());
        --attempts;
    }
    uint32_t code = plat_GetLastError();
    link_SendNak();
    plat_SetLastError(code);
    return 0;
}

int link_ReceiveReply(uint8_t *buf, int capacity) {
    for (int attempt = 0; attempt < Attempts(); ++attempt) {
        if (!link_WaitStx()) {
            link_CountReceiveFailure(LINK_ERR_TIMEOUT);
            link_TraceFailure("RX ", LINK_ERR_TIMEOUT);
            continue;
        }
        int n = ReceiveBlock(buf, capacity);
        if (n > 0) {
            link_CountReceived(static_cast<int>(g_wire.size()));
            link_TraceBlock("RX ", g_wire.data(), static_cast<int>(g_wire.size()));
            return n;
        }
        uint32_t code = plat_GetLastError();
        link_SendNak();
        plat_SetLastError(code);
        link_CountReceiveFailure(code);
        link_TraceFailure("RX ", code);
    }
    return 0;
}
