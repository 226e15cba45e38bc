// The requests the request server answers and their reply formats.
#include "dbg.h"
#include "evlog.h"
#include "lgr_server.h"
#include "lgr_server_internal.h"
#include "plat_error.h"
#include "tag.h"

#include <algorithm>
#include <cctype>
#include <cstdarg>
#include <cinttypes>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <strings.h>

using namespace lgr_detail;

namespace {

std::string format(const char *fmt, ...) __attribute__((format(printf, 1, 2)));
std::string format(const char *fmt, ...) {
    char buffer[128];
    va_list args;
    va_start(args, fmt);
    vsnprintf(buffer, sizeof buffer, fmt, args);
    va_end(args);
    return buffer;
}

std::string failure(uint32_t error) {
    return format("-1,%d", static_cast<int>(error));
}

// Comma-separated decimal fields; false when fewer than count scan.
bool parseFields(const std::string &args, size_t count, std::vector<int64_t> *out) {
    out->clear();
    const char *p = args.c_str();
    while (out->size() < count) {
        char *end = nullptr;
        errno = 0;
        long long v = strtoll(p, &end, 10);
        if (end == p || errno == ERANGE) return false;
        out->push_back(v);
        p = end;
        if (out->size() < count) {
            if (*p != ',') return false;
            ++p;
        }
    }
    return true;
}

bool fitsInt(int64_t v) {
    return v >= INT32_MIN && v <= INT32_MAX;
}

template <typename T>
T *address(int64_t value) {
    return reinterpret_cast<T *>(static_cast<uintptr_t>(value));
}

// A TimeStamp sent as a 64-bit number: low 32 bits seconds, next 16 bits milliseconds.
int64_t stampKey(int64_t value) {
    uint64_t v = static_cast<uint64_t>(value);
    uint32_t seconds = static_cast<uint32_t>(v & 0xFFFFFFFFu);
    uint16_t ms = static_cast<uint16_t>((v >> 32) & 0xFFFFu);
    return int64_t{seconds} * 1000 + ms;
}

} // namespace

int lgr_ParseChannelCode(const std::string &token, char prefix[2], int *number) {
    size_t n = token.size();
    if (n >= 1 && n <= 5 &&
        std::all_of(token.begin(), token.end(), [](char c) { return c >= '0' && c <= '9'; })) {
        *number = atoi(token.c_str());
        return 1;
    }
    if (n >= 1 && n <= 2 && std::all_of(token.begin(), token.end(), [](char c) {
            return isalpha(static_cast<unsigned char>(c)) != 0;
        })) {
        prefix[0] = token[0];
        prefix[1] = n == 2 ? token[1] : '\0';
        *number = 0;
        return 2;
    }
    return 0;
}

std::vector<CLogRequestServer::Group> lgr_detail::ParseChannelList(const char *text,
                                                                   size_t length) {
    std::vector<CLogRequestServer::Group> groups;
    std::string list(text, strnlen(text, length));
    char prefix[2] = {0, 0};
    bool open = false; // a group takes further numbers
    size_t at = 0;
    while (at <= list.size()) {
        size_t comma = list.find(',', at);
        if (comma == std::string::npos) comma = list.size();
        std::string token = list.substr(at, comma - at);
        at = comma + 1;
        int number = 0;
        int kind = lgr_ParseChannelCode(token, prefix, &number);
        if (kind == 0) break;
        if (kind == 2) {
            groups.push_back({{prefix[0], prefix[1]}, {}});
            open = true;
            continue;
        }
        if (number == 0) {
            open = false;
            continue;
        }
        if (!open) {
            groups.push_back({{prefix[0], prefix[1]}, {}});
            open = true;
        }
        groups.back().numbers.push_back(number);
    }
    groups.erase(
        std::remove_if(groups.begin(), groups.end(),
                       [](const CLogRequestServer::Group &g) { return g.numbers.empty(); }),
        groups.end());
    return groups;
}

int CLogRequestServer::FindBlock(const LogHeader &header, const char prefix[2], int number) const {
    int count = std::min<int>(header.blockCount, LDF_MAX_BLOCKS);
    for (int b = 0; b < count; ++b) {
        const LogBlockDescriptor &block = header.blocks[b];
        if (SamePrefix(block.prefix, prefix) && number >= block.first && number <= block.last)
            return b;
    }
    return -1;
}

bool CLogRequestServer::StatusServesLs() const {
    const LogHeader &h = header_[CurrentSlot()];
    int count = std::min<int>(h.blockCount, LDF_MAX_BLOCKS);
    for (int b = 0; b < count; ++b)
        if (SamePrefix(h.blocks[b].prefix, "LS")) return false;
    return true;
}

int CLogRequestServer::HandleRequest(const char *request, int requestLength, char *reply,
                                     int capacity, int *replyLength) {
    if (replyLength != nullptr) *replyLength = 0;
    if (request == nullptr || reply == nullptr || capacity < 0 || replyLength == nullptr)
        return plat_Fail(WERR_INVALID_PARAMETER);
    std::string text(request, strnlen(request, static_cast<size_t>(std::max(requestLength, 0))));
    std::string code = text.substr(0, std::min<size_t>(2, text.size()));
    // IP and TP are told apart from other codes by their comma.
    if ((strcasecmp(code.c_str(), "IP") == 0 || strcasecmp(code.c_str(), "TP") == 0) &&
        text.size() >= 3 && text[2] == ',')
        code += ',';
    std::string args = text.size() > 3 ? text.substr(3) : std::string();
    Reply out;
    int rc;
    bool ranged = text.size() >= 2 && text[1] == 'S' && text[0] >= '5' && text[0] <= '8';
    if (ranged) {
        // The run list and the range buffers can be large: running out of memory fails the
        // request, never the process.
        try {
            if (text[0] == '7' || text[0] == '8') {
                std::vector<int64_t> f;
                if (parseFields(args, 5, &f) && f[4] != 0)
                    AddRequestedChannels(address<const char>(f[4]));
            }
            RefreshRunList();
            if (runs_.empty()) {
                dbg_Printf("No RT Records GraphFiltered for %d:d\r\n", newest_[0]);
                return 0;
            }
            rc = Dispatch(code, args, out);
        } catch (const std::bad_alloc &) {
            return plat_Fail(WERR_NOT_ENOUGH_MEMORY);
        }
    } else {
        try {
            RefreshStores();
            RefreshLoggerStatus();
        } catch (...) {
            evlog_ReportEvent(".", EVLOG_ERROR, "readmrf exception\r\n");
        }
        if (newest_[0] < 0) {
            dbg_Printf("No RT Records GraphFiltered for %d:d\r\n", newest_[0]);
            return 0;
        }
        try {
            rc = Dispatch(code, args, out);
        } catch (const std::bad_alloc &) {
            return plat_Fail(WERR_NOT_ENOUGH_MEMORY);
        }
        if (CloseAfterRequest())
            for (int i = 0; i < 2; ++i)
                DropSlot(i);
    }
    if (rc != 1) return rc;
    if (out.bytes.size() > static_cast<size_t>(capacity)) return plat_Fail(WERR_MORE_DATA);
    memcpy(reply, out.bytes.data(), out.bytes.size());
    *replyLength = static_cast<int>(out.bytes.size());
    return 1;
}

int CLogRequestServer::Dispatch(const std::string &code, const std::string &args, Reply &out) {
    auto is = [&](const char *c) { return strcasecmp(code.c_str(), c) == 0; };
    int slot = CurrentSlot();
    if (is("TS")) {
        if (record_[0].empty()) {
            out.Text("-1,0");
            return 1;
        }
        out.Text(format("%u,%d", NewestSeconds(0), NewestMs(0)));
        out.Raw(header_[0].carried, sizeof header_[0].carried);
        return 1;
    }
    if (is("QE")) {
        out.Text("0");
        return 1;
    }
    if (is("QP")) {
        const LogHeader &h = header_[slot];
        int count = 0;
        int blocks = std::min<int>(h.blockCount, LDF_MAX_BLOCKS);
        for (int b = 0; b < blocks; ++b) {
            if (h.blocks[b].first == 0) continue;
            bool seen = false;
            for (int e = 0; e < b && !seen; ++e)
                seen = h.blocks[e].first != 0 && SamePrefix(h.blocks[e].prefix, h.blocks[b].prefix);
            if (!seen) ++count;
        }
        out.Text(format("%d", count + (StatusServesLs() ? 1 : 0)));
        return 1;
    }
    if (is("IP,") || is("TP,")) return Processors(is("IP,"), args, out);
    if (is("CV") || is("RV")) {
        std::vector<Group> groups = ParseChannelList(args.c_str(), args.size());
        if (groups.empty()) {
            out.Text("0");
            return 1;
        }
        return is("CV") ? ChannelRecords(groups, out) : CurrentValues(groups, out);
    }
    if (is("TC")) return TagsToCodes(args, out);
    if (is("RS") || is("BS")) {
        out.Text(format("%1d", statusFlags_[0] & 1));
        return 1;
    }
    if (is("ES")) {
        out.Text("1");
        return 1;
    }
    if (is("DS")) {
        out.Text("0");
        return 1;
    }
    if (is("WS") || is("PS") || is("FS") || is("XS") || is("MS")) {
        out.Text(failure(plat_GetLastError()));
        return 1;
    }
    if (is("IS")) return EarliestStart(out);
    if (is("NS")) return LatestEnd(out);
    if (is("5S")) return RangeSummary(args, out);
    if (is("6S")) return SectionText(args, out);
    if (is("7S")) return RangeRecords(args, false, out);
    if (is("8S")) return RangeRecords(args, true, out);
    out.Text("0");
    return 1;
}

namespace {

std::string prefixText(const char prefix[2]) {
    return std::string(prefix, strnlen(prefix, 2));
}

void putStamp(std::string *bytes, const TimeStamp &stamp) {
    bytes->append(reinterpret_cast<const char *>(&stamp.seconds), 4);
    bytes->append(reinterpret_cast<const char *>(&stamp.milliseconds), 2);
}

bool hasPrefix(const LogHeader &h, const char prefix[2]) {
    int count = std::min<int>(h.blockCount, LDF_MAX_BLOCKS);
    for (int b = 0; b < count; ++b)
        if (SamePrefix(h.blocks[b].prefix, prefix)) return true;
    return false;
}

} // namespace

uint32_t lgr_detail::RangeValue(const LogHeader &h, const ChannelCode &code,
                                const uint8_t *record) {
    const uint32_t absent = 0x7FFFFFFF;
    int count = std::min<int>(h.blockCount, LDF_MAX_BLOCKS);
    for (int b = 0; b < count; ++b) {
        const LogBlockDescriptor &block = h.blocks[b];
        if (!SamePrefix(block.prefix, code.prefix) || code.number < block.first ||
            code.number > block.last)
            continue;
        int32_t flag = 0, value = 0;
        if (!ChannelWords(h, b, code.number, record, static_cast<size_t>(std::max(h.recordSize, 0)),
                          &flag, &value))
            return absent;
        if (flag & LDF_FLAG_INVALID) return absent;
        if (flag & LDF_FLAG_PRESENT) return static_cast<uint32_t>(value);
        float f = (flag & 1) ? 1.0f : 0.0f;
        uint32_t bits;
        memcpy(&bits, &f, 4);
        return bits;
    }
    return absent;
}

int CLogRequestServer::Processors(bool ip, const std::string &args, Reply &out) {
    bool all = args.size() >= 2 && args[0] == '*' && args[1] == ',';
    long limit = all ? strtol(args.c_str() + 2, nullptr, 10) : 0;
    const LogHeader &h = header_[CurrentSlot()];
    int blocks = std::min<int>(h.blockCount, LDF_MAX_BLOCKS);
    std::string body;
    bool listed = false;
    int c = 0;
    for (int b = 0; b < blocks; ++b) {
        const LogBlockDescriptor &block = h.blocks[b];
        if (block.first == 0) continue;
        bool seen = false;
        for (int e = 0; e < b && !seen; ++e)
            seen = h.blocks[e].first != 0 && SamePrefix(h.blocks[e].prefix, block.prefix);
        if (seen) continue;
        char name[8];
        if (c < 26)
            snprintf(name, sizeof name, "USERA%c", 'A' + c);
        else if (c < 52)
            snprintf(name, sizeof name, "USERB%c", 'A' + (c - 26));
        else
            snprintf(name, sizeof name, "USERC%c", 'A' + (c - 52));
        bool match = all ? c < limit : strcasecmp(name, args.c_str()) == 0;
        if (match) {
            int highest = 0;
            for (int e = 0; e < blocks; ++e)
                if (SamePrefix(h.blocks[e].prefix, block.prefix))
                    highest = std::max<int>(highest, h.blocks[e].last);
            std::string prefix = prefixText(block.prefix);
            std::string source(block.source, strnlen(block.source, sizeof block.source));
            if (source.empty()) source = prefix + " CHANNELS";
            if (ip)
                body += std::string(name) + "," + source + "," + prefix + ":" +
                        std::to_string(highest) + ",0," + (block.valueKind == 4 ? "D" : "A") + ";";
            else
                body += "1,1,";
            listed = true;
        }
        ++c;
        if (!all && match) break;
    }
    if (StatusServesLs() &&
        ((all && c < limit) || (!all && strcasecmp(args.c_str(), "logst") == 0))) {
        body += ip ? "logst,LOGGER STATUS CHANNELS,LS:56,0,A;" : "1,1,";
        listed = true;
    }
    out.Text((listed ? "1," : "0,") + body);
    return 1;
}

bool CLogRequestServer::PutGroupStamp(const Group &g, int slot, bool status, Reply &out) const {
    bool ls = status && SamePrefix(g.prefix, "LS");
    TimeStamp stamp =
        ls ? statusStamp_ : (hasPrefix(header_[slot], g.prefix) ? runStart_[slot] : TimeStamp{});
    putStamp(&out.bytes, stamp);
    return ls;
}

int CLogRequestServer::ChannelRecords(const std::vector<Group> &groups, Reply &out) {
    int slot = CurrentSlot();
    bool status = StatusServesLs();
    out.Raw("1,", 2);
    uint8_t record[LGR_STATUS_RECORD_SIZE];
    for (const Group &g : groups) {
        bool ls = PutGroupStamp(g, slot, status, out);
        for (int n : g.numbers) {
            memset(record, 0, sizeof record);
            if (ls) {
                if (n >= 1 && n <= LGR_STATUS_CHANNELS)
                    memcpy(record, statusRecords_[n - 1], sizeof record);
            } else {
                int b = FindBlock(header_[slot], g.prefix, n);
                if (b >= 0 &&
                    store_[slot]->ReadChannelInfo(&header_[slot], record, b,
                                                  n - header_[slot].blocks[b].first, 1) != 0)
                    memset(record, 0, sizeof record);
            }
            // Outputs read as inputs.
            if (record[24] == 3)
                record[24] = 1;
            else if (record[24] == 2)
                record[24] = 0;
            out.Raw(record, sizeof record);
        }
    }
    return 1;
}

int CLogRequestServer::CurrentValues(const std::vector<Group> &groups, Reply &out) {
    int slot = CurrentSlot();
    bool status = StatusServesLs();
    out.Raw("1,", 2);
    uint8_t record[LGR_STATUS_RECORD_SIZE];
    for (const Group &g : groups) {
        bool ls = PutGroupStamp(g, slot, status, out);
        for (int n : g.numbers) {
            int32_t flag = LDF_FLAG_INVALID, value = 0;
            if (ls) {
                if (n >= 1 && n <= LGR_STATUS_CHANNELS) {
                    flag = statusFlags_[n - 1];
                    memcpy(&value, &statusValues_[n - 1], 4);
                }
            } else {
                for (int s = 0; s < 2; ++s) {
                    if (s == 1) {
                        if (!store_[1] || newest_[1] < 0) break;
                        int64_t d = (int64_t{NewestSeconds(0)} * 1000 + NewestMs(0)) -
                                    (int64_t{NewestSeconds(1)} * 1000 + NewestMs(1));
                        if ((!(flag & LDF_FLAG_INVALID) && d > 0) || d < -180000 || d > 180000)
                            break;
                    }
                    if (!store_[s] || record_[s].empty()) continue;
                    int b = FindBlock(header_[s], g.prefix, n);
                    if (b < 0) continue;
                    int32_t f = LDF_FLAG_INVALID, v = 0;
                    memset(record, 0, sizeof record);
                    if (ChannelWords(header_[s], b, n, record_[s].data(), record_[s].size(), &f,
                                     &v) &&
                        !(f & LDF_FLAG_INVALID) &&
                        store_[s]->ReadChannelInfo(&header_[s], record, b,
                                                   n - header_[s].blocks[b].first, 1) == 0) {
                        if ((record[24] & 1) == 0) {
                            f = LDF_FLAG_PRESENT;
                        } else {
                            float fv;
                            memcpy(&fv, &v, 4);
                            // Not a number, or no int32: no value.
                            if (!std::isfinite(fv) || fv >= 2147483648.0f || fv < -2147483648.0f)
                                f = LDF_FLAG_INVALID;
                            else
                                f = static_cast<int32_t>(fv) & 1;
                        }
                    } else if (!ChannelWords(header_[s], b, n, record_[s].data(), record_[s].size(),
                                             &f, &v)) {
                        f = LDF_FLAG_INVALID;
                    }
                    flag = f;
                    value = v;
                }
            }
            flag &= ~0x40;
            out.Int32(flag);
            if ((flag & LDF_FLAG_PRESENT) && !(flag & LDF_FLAG_INVALID)) out.Int32(value);
        }
    }
    return 1;
}

int CLogRequestServer::TagsToCodes(const std::string &args, Reply &out) {
    const LogHeader &h = header_[CurrentSlot()];
    CLogStore *store = store_[CurrentSlot()].get();
    std::vector<std::string> tags;
    size_t at = 0;
    while (!args.empty() && at <= args.size()) {
        size_t comma = args.find(',', at);
        if (comma == std::string::npos) comma = args.size();
        tags.push_back(args.substr(at, std::min<size_t>(comma - at, 15)));
        at = comma + 1;
    }
    out.Raw("1,", 2);
    std::vector<uint8_t> records;
    int blocks = std::min<int>(h.blockCount, LDF_MAX_BLOCKS);
    for (const std::string &tag : tags) {
        ChannelCode code{};
        bool found = false;
        for (int b = 0; b < blocks && !found; ++b) {
            int n = h.blocks[b].last - h.blocks[b].first + 1;
            if (n <= 0) continue;
            records.resize(static_cast<size_t>(n) * LGR_STATUS_RECORD_SIZE);
            LogHeader copy = h;
            if (store->ReadChannelInfo(&copy, records.data(), b, 0, n) != 0) return -1;
            for (int k = 0; k < n && !found; ++k) {
                const auto *rec = reinterpret_cast<const ChannelRecord *>(
                    records.data() + k * LGR_STATUS_RECORD_SIZE);
                if (strcasecmp(tag_GetTag(*rec).c_str(), tag.c_str()) == 0) {
                    memcpy(code.prefix, h.blocks[b].prefix, 2);
                    code.number = static_cast<uint16_t>(h.blocks[b].first + k);
                    found = true;
                }
            }
        }
        out.Raw(&code, sizeof code);
    }
    return 1;
}

int CLogRequestServer::EarliestStart(Reply &out) {
    int size = 0;
    if (!collection_[0] || collection_[0]->FindFirst(&size) != 1) {
        out.Text(failure(plat_GetLastError()));
        return 1;
    }
    std::vector<char> name(static_cast<size_t>(std::max(size, 1285)) + 1);
    LogTimePair start{}, stop{};
    bool any = false;
    uint32_t earliest = 0;
    while (collection_[0]->FindNext(name.data(), &start, &stop) == 1) {
        if (!any || start.seconds < earliest) earliest = start.seconds;
        any = true;
    }
    out.Text(any ? format("1,%u", earliest) : failure(plat_GetLastError()));
    return 1;
}

int CLogRequestServer::LatestEnd(Reply &out) {
    int size = 0;
    if (!collection_[0] || collection_[0]->FindFirst(&size) != 1) {
        out.Text(failure(plat_GetLastError()));
        return 1;
    }
    std::vector<char> name(static_cast<size_t>(std::max(size, 1285)) + 1);
    LogTimePair start{}, stop{};
    bool any = false;
    uint32_t latest = 0;
    int total = 0;
    std::vector<std::string> runs;
    std::vector<uint32_t> stops;
    while (collection_[0]->FindNext(name.data(), &start, &stop) == 1) {
        runs.emplace_back(name.data());
        stops.push_back(stop.seconds);
    }
    for (size_t i = 0; i < runs.size(); ++i) {
        std::string run = runs[i];
        size_t slash = run.find_last_of("/\\");
        if (!database_ && slash != std::string::npos) run = run.substr(slash + 1);
        uint32_t end = stops[i];
        std::unique_ptr<CLogStore> store(OpenRunStore(Identity(0, run)));
        if (store) {
            LogHeader h{};
            if (store->ReadHeader(&h) == 0) {
                int n = store->GetNoLogs(&h);
                if (n > 0) {
                    total += n;
                    std::vector<uint8_t> record(static_cast<size_t>(std::max(h.recordSize, 12)));
                    if (end == 0 && store->ReadLog(n - 1, &h, record.data(), h.recordSize) == 0)
                        end = RecordSeconds(record.data());
                }
            }
            store->Close();
        }
        if (!any || end > latest) latest = end;
        any = true;
    }
    out.Text(any ? format("1,%u,%d", latest, total) : failure(plat_GetLastError()));
    return 1;
}

CLogRequestServer::Summary CLogRequestServer::Summarise(bool useFrom, uint32_t from, bool useTo,
                                                        uint32_t to) const {
    Summary s;
    bool first = true;
    uint64_t text = 0;
    for (const auto &run : runs_) {
        bool none = run->cached == 0;
        bool fromOk = !useFrom || run->start >= from || none || run->end >= from;
        bool toOk = !useTo || run->start <= to || none || run->end < to;
        if (!fromOk || !toOk) continue;
        if (first || run->start < s.earliest) s.earliest = run->start;
        first = false;
        if (run->cached > 1) s.latestEnd = std::max(s.latestEnd, run->end + 1);
        s.records += static_cast<uint32_t>(run->cached);
        text += run->text.size();
    }
    s.textLength = static_cast<uint32_t>(text != 0 ? text + 1 : 0);
    return s;
}

int CLogRequestServer::RangeSummary(const std::string &args, Reply &out) {
    std::vector<int64_t> f;
    if (!parseFields(args, 4, &f)) {
        plat_SetLastError(WERR_INVALID_PARAMETER);
        out.Text(failure(WERR_INVALID_PARAMETER));
        return 1;
    }
    if (runs_.empty()) {
        out.Text(failure(plat_GetLastError()));
        return 1;
    }
    Summary s =
        Summarise(f[0] != 0, static_cast<uint32_t>(f[1]), f[2] != 0, static_cast<uint32_t>(f[3]));
    out.Text(
        format("1,%u,%u,%u,%u,%d", s.earliest, s.latestEnd, s.records, s.textLength, logging_));
    return 1;
}

int CLogRequestServer::SectionText(const std::string &args, Reply &out) {
    size_t comma = args.find(',');
    if (comma == std::string::npos || comma > 99) {
        out.Text("-1,0");
        return 1;
    }
    std::string name = args.substr(0, comma);
    std::vector<int64_t> f;
    if (!parseFields(args.substr(comma + 1), 2, &f) || !fitsInt(f[1]) || (f[0] == 0 && f[1] > 0)) {
        plat_SetLastError(WERR_INVALID_PARAMETER);
        out.Text(failure(WERR_INVALID_PARAMETER));
        return 1;
    }
    if (runs_.empty()) {
        out.Text(failure(plat_GetLastError()));
        return 1;
    }
    char *buffer = address<char>(f[0]);
    size_t size = f[1] > 0 ? static_cast<size_t>(f[1]) : 0;
    if (strcasecmp(name.c_str(), "HEADER") == 0) {
        if (headerText_.size() <= size && !headerText_.empty())
            memcpy(buffer, headerText_.data(), headerText_.size());
        out.Text(format("1,%u", static_cast<unsigned>(headerText_.size())));
        return 1;
    }
    size_t used = 0, total = 0;
    for (const auto &run : runs_) {
        const std::string &text = run->text;
        if (!text.empty() && used + text.size() <= size) {
            memcpy(buffer + used, text.data(), text.size());
            used += text.size();
        }
        total += text.size();
    }
    out.Text(format("1,%u", static_cast<unsigned>(total)));
    return 1;
}

int CLogRequestServer::RangeRecords(const std::string &args, bool buckets, Reply &out) {
    std::vector<int64_t> f;
    auto bad = [&]() {
        plat_SetLastError(WERR_INVALID_PARAMETER);
        out.Text(failure(WERR_INVALID_PARAMETER));
        return 1;
    };
    if (!parseFields(args, buckets ? 11 : 10, &f) || !fitsInt(f[5]) || !fitsInt(f[9])) return bad();
    if (runs_.empty()) {
        out.Text(failure(plat_GetLastError()));
        return 1;
    }
    bool useFrom = f[0] != 0, useTo = f[2] != 0;
    int64_t from = stampKey(f[1]), to = stampKey(f[3]);
    Summary s = Summarise(useFrom, static_cast<uint32_t>(from / 1000), useTo,
                          static_cast<uint32_t>(to / 1000));
    if (!useFrom) from = int64_t{s.earliest} * 1000;
    if (!useTo) to = int64_t{s.latestEnd} * 1000;
    int capacity = static_cast<int>(std::max<int64_t>(f[5], 0));
    int textSize = static_cast<int>(std::max<int64_t>(f[9], 0));
    if (textSize > 0 && f[8] == 0) return bad();
    if (buckets) {
        if (f[5] <= 0 || to == from || f[6] == 0 || f[7] == 0 || f[10] == 0) return bad();
    } else if (capacity > 0 && (f[6] == 0 || f[7] == 0)) {
        return bad();
    }
    // A number a code cannot carry keeps its place in the reply and reads as no value.
    std::vector<ChannelCode> channels;
    std::vector<bool> codable;
    if (f[4] != 0) {
        const char *list = address<const char>(f[4]);
        for (const Group &g : ParseChannelList(list, strlen(list)))
            for (int n : g.numbers) {
                bool fits = n <= UINT16_MAX;
                channels.push_back(
                    {{g.prefix[0], g.prefix[1]}, static_cast<uint16_t>(fits ? n : 0)});
                codable.push_back(fits);
            }
    }
    size_t nc = channels.size();
    uint8_t *times = address<uint8_t>(f[6]);
    uint8_t *values = address<uint8_t>(f[7]);
    char *textOut = address<char>(f[8]);
    const uint32_t absent = 0x7FFFFFFF;
    int n = capacity; // buckets
    std::vector<uint8_t> used;
    if (buckets) {
        memset(address<uint8_t>(f[10]), 0, 8);
        used.assign(static_cast<size_t>(n), 0);
        memset(times, 0, static_cast<size_t>(n) * 16);
        for (size_t i = 0; i < static_cast<size_t>(n) * nc * 4; ++i)
            memcpy(values + i * 4, &absent, 4);
    }
    bool bounded = buckets || !(useTo && to == 0);
    int written = 0;
    size_t textUsed = 0;
    int64_t lastKey = INT64_MIN;
    bool full = false;
    for (const auto &run : runs_) {
        if (run->text.size() > 1 && textUsed + run->text.size() <= static_cast<size_t>(textSize)) {
            memcpy(textOut + textUsed, run->text.data(), run->text.size());
            textUsed += run->text.size();
        }
        if (full || !run->headerRead || run->cached == 0) continue;
        if ((bounded && int64_t{run->start} * 1000 > to) || int64_t{run->end} * 1000 + 999 < from)
            continue;
        // The first record not earlier than from.
        int lo = 0, hi = run->cached;
        while (lo < hi) {
            int mid = lo + (hi - lo) / 2;
            if (run->Key(mid) < from)
                lo = mid + 1;
            else
                hi = mid;
        }
        // Where each requested channel sits in a compact record (-1: not kept).
        std::vector<int> slots(nc, -1);
        if (run->compact)
            for (size_t c = 0; c < nc; ++c)
                for (size_t d = 0;
                     d < dashboard_.size() && d < static_cast<size_t>(run->compactChannels); ++d)
                    if (lgr_CompareChannelCodes(dashboard_[d], channels[c]) == 0)
                        slots[c] = static_cast<int>(d);
        auto valueOf = [&](int i, size_t c) -> uint32_t {
            if (!codable[c]) return absent;
            if (!run->compact) return RangeValue(run->header, channels[c], run->Record(i));
            if (slots[c] < 0) return absent;
            uint32_t v;
            memcpy(&v, run->Record(i) + 8 + 4 * slots[c], 4);
            return v;
        };
        for (int i = lo; i < run->cached; ++i) {
            const uint8_t *time = run->Time(i);
            int64_t key = run->Key(i);
            if (bounded && key > to) break;
            if (key < from || key < lastKey) continue;
            if (!buckets) {
                if (written >= capacity) {
                    full = true;
                    break;
                }
                memcpy(times + static_cast<size_t>(written) * 8, time, 8);
                for (size_t c = 0; c < nc; ++c) {
                    uint32_t v = valueOf(i, c);
                    memcpy(values + (static_cast<size_t>(written) * nc + c) * 4, &v, 4);
                }
                ++written;
            } else {
                uint16_t micros;
                memcpy(&micros, time + 6, 2);
                int64_t us = key * 1000 + (micros < 1000 ? micros : 0);
                __int128 index = static_cast<__int128>(us - from * 1000) * n / ((to - from) * 1000);
                if (index < 0) continue;
                int bucket = index >= n ? n - 1 : static_cast<int>(index);
                uint8_t *t = times + static_cast<size_t>(bucket) * 16;
                if (!used[bucket]) {
                    memcpy(t, time, 8);
                    used[bucket] = 1;
                    ++written;
                }
                memcpy(t + 8, time, 8);
                for (size_t c = 0; c < nc; ++c) {
                    uint32_t v = valueOf(i, c);
                    if (v == absent) continue;
                    uint8_t *w = values + (static_cast<size_t>(bucket) * nc + c) * 16;
                    float fv, lo2, hi2;
                    memcpy(&fv, &v, 4);
                    uint32_t firstBits;
                    memcpy(&firstBits, w, 4);
                    if (firstBits == absent) {
                        memcpy(w, &v, 4);
                        memcpy(w + 8, &v, 4);
                        memcpy(w + 12, &v, 4);
                    } else {
                        memcpy(&lo2, w + 8, 4);
                        memcpy(&hi2, w + 12, 4);
                        if (fv < lo2) memcpy(w + 8, &v, 4);
                        if (fv > hi2) memcpy(w + 12, &v, 4);
                    }
                    memcpy(w + 4, &v, 4);
                }
            }
            lastKey = key;
        }
    }
    out.Text(format("1,%u,%u,%d", static_cast<unsigned>(written), static_cast<unsigned>(textUsed),
                    logging_));
    return 1;
}
