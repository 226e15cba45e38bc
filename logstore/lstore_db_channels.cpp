// Channel records and column names of a new run kept in a database.
#include "lstore_db_channels.h"

#include "dm.h"
#include "ldb.h"
#include "ldf.h"
#include "plat_error.h"
#include "req.h"
#include "shm.h"
#include "srv.h"
#include "tag.h"

#include <cctype>
#include <cstdio>
#include <cstring>

int ldbch_BlockRecords(const LogHeader &h, int b, const void *const *records, const char *server,
                       std::vector<ChannelRecord> *out) {
    const LogBlockDescriptor &d = h.blocks[b];
    int n = ldf_BlockChannels(d);
    if (n <= 0) {
        out->clear();
        return 0;
    }
    out->assign(static_cast<size_t>(n), ChannelRecord{});
    if (records && records[b]) {
        std::memcpy(out->data(), records[b], static_cast<size_t>(n) * sizeof(ChannelRecord));
        return 0;
    }
    if (!server || !*server || srv_IsLocal(server)) {
        char id[3] = {d.prefix[0], d.prefix[1], '\0'};
        SegmentHeader *seg = dm_GetConfSegment(id);
        if (!seg) return LDBCH_NO_SEGMENT;
        if (shm_Lock(seg) != 0) return -1;
        int64_t available = shm_PayloadLimit(seg) / static_cast<int64_t>(sizeof(ChannelRecord));
        int rc = 0;
        if (d.first == 0 || d.last > available)
            rc = -1;
        else
            std::memcpy(out->data(),
                        shm_Payload(seg) + int64_t{sizeof(ChannelRecord)} * (d.first - 1),
                        static_cast<size_t>(n) * sizeof(ChannelRecord));
        shm_Unlock(seg);
        return rc;
    }
    std::vector<char> reply(REQ_REPLY_SIZE);
    for (int c = d.first; c <= d.last; ++c) {
        char line[32];
        std::snprintf(line, sizeof line, "CV,%.2s,%d", d.prefix, c);
        int size = REQ_REPLY_SIZE;
        int rc = srv_Command(server, line, reply.data(), &size);
        if (rc < 0 || size < 8 + static_cast<int>(sizeof(ChannelRecord)) || reply[0] != '1' ||
            reply[1] != ',')
            return -1;
        std::memcpy(&(*out)[static_cast<size_t>(c - d.first)], reply.data() + 8,
                    sizeof(ChannelRecord));
    }
    return 0;
}

std::string ldbch_ColumnName(const LogHeader &h, int b, int channel, const ChannelRecord &r) {
    char code[32];
    std::snprintf(code, sizeof code, "%.2s%d", h.blocks[b].prefix, channel);
    if (!h.tagColumns) return code;
    std::string name = ldb_Identifier(tag_GetTag(r));
    if (lstore_ParseHeaderChannels(name.c_str())) return code;
    return name;
}

namespace {
std::string upper(std::string text) {
    for (char &c : text)
        c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    return text;
}
} // namespace

std::string ldbch_UniqueColumn(const std::string &name, std::set<std::string> *taken) {
    static const std::set<std::string> fixed = {"DT", "MS", "TX", "LL", "LV", "TP"};
    auto free = [&](const std::string &u) { return !fixed.count(u) && !taken->count(u); };
    std::string made = name;
    for (int n = 2; !free(upper(made)); ++n)
        made = name + "_" + std::to_string(n);
    taken->insert(upper(made));
    return made;
}

namespace {
std::string trimmed(const std::string &text, size_t width) {
    std::string t = text.substr(0, width);
    while (!t.empty() && t.back() == ' ')
        t.pop_back();
    return t;
}
} // namespace

void ldbch_FillRecord(const LdbChannelRow &row, ChannelRecord *r) {
    std::memset(r, 0, sizeof *r);
    tag_SetTag(r, trimmed(row.tag, 15).c_str());
    tag_SetDescription(r, trimmed(row.description, 32).c_str());
    if (row.type) {
        chrec_SetFlag(r, ChannelAnalog::Enable, 1);
        chrec_SetType(r, static_cast<uint8_t>(*row.type));
    }
    // A NULL type leaves type 0, which reads as analogue.
    if (chrec_IsDigital(*r)) {
        chrec_SetText(r, ChannelDigital::LowStateText, trimmed(row.lowState, 32).c_str());
        chrec_SetText(r, ChannelDigital::HighStateText, trimmed(row.highState, 32).c_str());
    } else {
        tag_SetUnits(r, trimmed(row.units, 8).c_str());
        chrec_Set(r, ChannelAnalog::MinimumUnits, row.minimum);
        chrec_Set(r, ChannelAnalog::MaximumUnits, row.maximum);
    }
}
