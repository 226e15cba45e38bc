// What the reply programs share: every request the configuration side sends to a server, each
// through the code that reads its reply. The program decides how the replies arrive.
#pragma once

#include "chrec.h"
#include "fuzz_support.h"
#include "ldf.h"
#include "lgr.h"
#include "lstore.h"
#include "lstore_db_channels.h"
#include "req.h"
#include "rfile.h"
#include "rfile_config.h"
#include "srv.h"

#include <string>
#include <vector>

namespace fuzz {

constexpr int k_readerCount = 22;

// The front of every reply program's input: the reader and its two argument bytes.
struct ReaderChoice {
    int which;
    uint8_t a, b;
};

inline ReaderChoice takeReader(Reader &in) {
    ReaderChoice c{};
    c.which = in.byte();
    c.a = in.byte();
    c.b = in.byte();
    return c;
}

// Runs reader `which` against the server spec; `a` and `b` shape its arguments (counts,
// sizes, selectors) so that the replies meet each reader's sizes.
inline void readReplies(const char *spec, const ReaderChoice &choice) {
    int which = choice.which;
    uint8_t a = choice.a;
    uint8_t b = choice.b;
    std::vector<char> buffer(70000);
    int got = 0;
    int count = 1 + a % 4;
    int first = b % 8;
    switch (which % k_readerCount) {
    case 0:
        rfile_ReadFile(spec, -1, "p", buffer.data(), (a << 8 | b) % (RFILE_MAX_READ + 1), &got, 0,
                       0);
        break;
    case 1:
        rfile_GetFileSize(spec, "p");
        break;
    case 2: {
        uint64_t t[3];
        rfile_GetFileTime(spec, -1, "p", &t[0], &t[1], &t[2]);
        break;
    }
    case 3: {
        std::vector<char[RFILE_NAME_SLOT]> slots(8);
        rfile_ListFiles(spec, "f", "*", a % 9, slots.data());
        break;
    }
    case 4:
        rfile_ListFiles(spec, "f", "*", 0, nullptr);
        break;
    case 5:
        rfile_SendEF(spec, "p", "q");
        break;
    case 6:
        rfile_SendMF(spec, "p", "q", buffer.data(), a);
        break;
    case 7: {
        std::string local = install().base + "/copy";
        rfile_CopyFromServer(spec, "p", local.c_str());
        break;
    }
    case 8: {
        std::vector<ChannelRecord> records(static_cast<size_t>(count));
        rfile_ReadChannels(spec, "KSTRN_01", CHANNEL_KIND_AI, records.data(), first, count);
        break;
    }
    case 9: {
        std::vector<ChannelRecord> records(static_cast<size_t>(count));
        rfile_ReadChannelsEx(spec, "KSTRN_01", CHANNEL_KIND_AI, records.data(), first, count,
                             buffer.data(), b % 64, "extra");
        break;
    }
    case 10:
        rfile_ReadDeviceConfig(spec, "KSTRN_01", buffer.data(), 16 + a);
        break;
    case 11: {
        uint8_t autoEnable = 0, saveOutputs = 0, saveByTag = 0;
        int32_t saveRate = 0;
        rfile_ReadDeviceConfigEx(spec, "KSTRN_01", buffer.data(), 16 + a, buffer.data() + 4096,
                                 b % 64, "extra", b & 1 ? &autoEnable : nullptr,
                                 b & 2 ? &saveOutputs : nullptr, b & 4 ? &saveByTag : nullptr,
                                 b & 8 ? &saveRate : nullptr);
        break;
    }
    case 12:
        rfile_ReadLoggerConfig(spec, "stand", 1, buffer.data(), 1 + (a << 8 | b));
        break;
    case 13:
        req_CurrentValues(spec, "AI:1,AI:2", buffer.data());
        break;
    case 14:
        req_ReadValues(spec, "AI:1,DI:2", buffer.data());
        break;
    case 15:
    case 16: {
        LogHeader header{};
        header.blockCount = 1;
        memcpy(header.blocks[0].prefix, "AI", 2);
        header.blocks[0].first = static_cast<uint16_t>(1 + first);
        header.blocks[0].last = static_cast<uint16_t>(first + count);
        if (which % k_readerCount == 15) {
            std::vector<uint8_t> out(static_cast<size_t>(count) * LDF_CHANNEL_SIZE);
            lstore_ChannelsFromServer(spec, header.blocks[0], out.data());
        } else {
            std::vector<ChannelRecord> out;
            ldbch_BlockRecords(header, 0, nullptr, spec, &out);
        }
        break;
    }
    case 17: {
        std::vector<LoggerInfo> table(4);
        lgr_GetLoggers(spec, a & 1 ? "*,4" : "stand", table.data(), 1 + b % 4);
        break;
    }
    case 18:
        srv_CountProcessors(spec);
        break;
    case 19: {
        std::vector<TpEntry> table(4);
        srv_QueryTP(spec, "*", table.data(), 1 + a % 4);
        break;
    }
    case 20: {
        std::vector<LoggerRecord> table(4);
        srv_GetLoggers(spec, "*", table.data(), 1 + a % 4);
        break;
    }
    case 21: {
        char name[25];
        srv_GetLoggerName(spec, 1, a & 1 ? name : nullptr);
        break;
    }
    }
}

// Valid exchanges for the seeds: the reader, its two argument bytes, and the replies a server
// gives to its requests in turn.
struct ReplySeed {
    const char *name;
    uint8_t which, a, b;
    std::vector<std::string> replies;
};

inline std::string readReply(const std::string &data) {
    return "1," + data + "," + std::to_string(data.size());
}

inline std::vector<ReplySeed> replySeeds() {
    ChannelRecord record{};
    chrec_SetType(&record, CHANNEL_TYPE_AI);
    chrec_SetFlag(&record, ChannelAnalog::Enable, 1);
    std::string channel(reinterpret_cast<const char *>(&record), sizeof record);
    std::string cv = "1,AI:1:x" + channel;
    return {
        {"rf", 0, 0, 100, {readReply(std::string(100, 'd'))}},
        {"sf", 1, 0, 0, {"3000"}},
        {"tf", 2, 0, 0, {"1,1,2,3,4,5,6"}},
        {"df", 3, 8, 0, {"3,a,,b,c"}},
        {"df-all", 4, 0, 0, {"2,a,b"}},
        {"ef", 5, 0, 0, {"1"}},
        {"mf", 6, 40, 0, {"1,moved to here"}},
        {"copy", 7, 0, 0, {"40", readReply(std::string(40, 'c'))}},
        {"if", 8, 1, 2, {"1," + channel + channel}},
        {"if-fallback", 8, 0, 0, {"-1,87", readReply(channel)}},
        {"if-ex", 9, 0, 4, {"1," + channel + "ext!"}},
        {"gf",
         10,
         0,
         0,
         {"1," + std::string("\x01\x00\x01\xe8\x03\x00\x00", 7) + std::string(16, 'g')}},
        {"gf-ex",
         11,
         0,
         0x8f,
         {"1," + std::string("\x01\x01\x00\xe8\x03\x00\x00", 7) + std::string(31, 'g')}},
        {"gf-fallback", 10, 0, 0, {"-1,5", readReply(std::string(16, 'g'))}},
        {"logger", 12, 0, 10, {readReply(std::string(11, 'L'))}},
        {"cv", 13, 0, 0, {"2,AI:1=5;AI:2=6"}},
        {"rv", 14, 0, 0, {"2,AI:1=5.5;DI:2=1"}},
        {"cv-record", 15, 1, 0, {cv, cv}},
        {"cv-db", 16, 0, 0, {cv}},
        {"il", 17, 1, 3, {"2,stand,1,Boiler;repub,2,Feed"}},
        {"qp", 18, 0, 0, {"3"}},
        {"tp", 19, 3, 0, {"2,1,2,first;3,4,second"}},
        {"tl", 20, 3, 0, {"2,LOG1,1,2,3,400,text;LOG2,0,0,0,-1"}},
        {"nl", 21, 1, 0, {"1,Boiler house"}},
    };
}

inline void writeSeed(const std::string &folder, const char *name, const std::string &bytes) {
    writeFile(folder + "/" + name, reinterpret_cast<const uint8_t *>(bytes.data()), bytes.size());
}

inline std::string asIs(const std::string &reply) {
    return reply;
}

inline std::string lengthPrefixed(const std::string &bytes) {
    std::string out;
    out += static_cast<char>(bytes.size() & 0xFF);
    out += static_cast<char>(bytes.size() >> 8);
    return out + bytes;
}

// A seed as the programs read it: the reader, the delivery byte when there is one (>= 0),
// and each reply as `frame` puts it on the way, behind its length word.
inline std::string encodeSeed(const ReplySeed &seed, int delivery,
                              std::string (*frame)(const std::string &)) {
    std::string bytes = {static_cast<char>(seed.which), static_cast<char>(seed.a),
                         static_cast<char>(seed.b)};
    if (delivery >= 0) bytes += static_cast<char>(delivery);
    for (const std::string &reply : seed.replies)
        bytes += lengthPrefixed(frame(reply));
    return bytes;
}

} // namespace fuzz
