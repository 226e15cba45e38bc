// The channel part of the report: one kind's channels, page by page, in the analogue or the
// digital layout.
#include "prn.h"

#include "chrec.h"
#include "rfile_config.h"
#include "tag.h"

#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

namespace {

// Flag n is bit n of the little-endian int32 at byte 28, least significant first.
bool Flag(const ChannelRecord &rec, int n) {
    uint32_t flags;
    std::memcpy(&flags, rec.bytes + ChannelCommon::FlagBytes, sizeof flags);
    return (flags >> n) & 1u;
}

const char *YesNo(bool on) {
    return on ? "Y" : "N";
}

const char *State(bool high) {
    return high ? "HIGH" : "LOW ";
}

float FloatAt(const ChannelRecord &rec, int offset) {
    float v;
    std::memcpy(&v, rec.bytes + offset, sizeof v);
    return v;
}

int U16At(const ChannelRecord &rec, int offset) {
    uint16_t v;
    std::memcpy(&v, rec.bytes + offset, sizeof v);
    return v;
}

std::string TextAt(const ChannelRecord &rec, int offset, int width) {
    const char *p = reinterpret_cast<const char *>(rec.bytes + offset);
    return std::string(p, strnlen(p, static_cast<size_t>(width)));
}

std::string Float(float v) {
    return prn_FormatFloat(v);
}

S5ChannelAddress AddressOf(const ChannelRecord &rec) {
    S5ChannelAddress a;
    int offset = (rec.bytes[ChannelCommon::Type.offset] & 1) != 0 ? ChannelDigital::DevicePart
                                                                  : ChannelAnalog::DevicePart;
    std::memcpy(&a, rec.bytes + offset, sizeof a);
    return a;
}

std::string AddressNumber(const ChannelRecord &rec) {
    return prn_Format(" %-5d          ", AddressOf(rec).address);
}

const char kBlockHead[] = " D BL/ DATA DATA";
const char kAddressHead[] = " D AD  TYPE BIT ";

// Column heads whose format texts are 134 characters wide with their %s.
const char kAnalogHead1[] = "CHAN    ENB TAG                  UNITS      %s EVENT CHCK ALARM "
                            "CHECKING LOW/HIGH                                                  "
                            "   ";
const char kAnalogHead2[] = "            DESCRIPTION                     %s ON LOW/HIG O C LIMIT "
                            "   W LIMIT    H LIMIT    PRI DLY  MESSAGE                         ";
static_assert(sizeof kAnalogHead1 - 1 == 134);
static_assert(sizeof kAnalogHead2 - 1 == 134);

int AnalogHeader() {
    std::string line = prn_Format(kAnalogHead1, kBlockHead) + " SIG CHNG\n";
    line += prn_Format(kAnalogHead2, kAddressHead) + " ON/VALUE\n\n";
    return prn_PrintLine(line.c_str());
}

int DigitalHeader() {
    std::string line = std::string("CHAN    ENB TAG                              ") +
                       prn_Format(" LOW STAT                        %s EVENT  ALARM  COM ALM ALM  "
                                  "ALARM\n",
                                  kBlockHead);
    line += std::string("            DESCRIPTION                      ") +
            prn_Format(" HIG STAT                        %s STATE  STATE  ALM PRI DLY  MESSAGE\n\n",
                       kAddressHead);
    return prn_PrintLine(line.c_str());
}

int AnalogChannel(const std::string &name, const ChannelRecord &r) {
    std::string s = prn_Format("%-7.7s [", name.c_str());
    s += prn_Format("%s] ", YesNo(Flag(r, 0)));
    s += prn_Format("%-15.15s      ", tag_GetTag(r).c_str());
    s += prn_Format("%-8.8s   ", tag_GetUnits(r).c_str());
    s += prn_Format("%s %s ", prn_FormatS5Address(r).c_str(), YesNo(Flag(r, 1)));
    s += Flag(r, 1) ? Float(FloatAt(r, 48)) : std::string(8, ' ');
    s += prn_Format(" %s ", YesNo(Flag(r, 5)));
    if (Flag(r, 5)) {
        s += prn_Format("%s %s %s ", YesNo(Flag(r, 7)), Float(FloatAt(r, 60)).c_str(),
                        YesNo(Flag(r, 12)));
        s += Flag(r, 12) ? Float(FloatAt(r, 180)) + " " : std::string(9, ' ');
        s += prn_Format("%s ", YesNo(Flag(r, 6)));
        s += Flag(r, 6) ? Float(FloatAt(r, 64) - FloatAt(r, 60)) + " " : std::string(9, ' ');
        s += prn_Format("%-3d %-4d %-32.32s", r.bytes[73], U16At(r, 186),
                        TextAt(r, 106, 32).c_str());
    } else {
        s += std::string(74, ' ');
    }
    s += prn_Format(" [%s]     ", YesNo(Flag(r, 8)));
    s += "\n";

    s += prn_Format("            %-32.32s%s   ", tag_GetDescription(r).c_str(),
                    AddressNumber(r).c_str());
    s += Flag(r, 1) ? Float(FloatAt(r, 44)) : std::string(8, ' ');
    s += prn_Format(" %s ", YesNo(Flag(r, 2)));
    if (Flag(r, 2)) {
        s += prn_Format("%s %s %s ", YesNo(Flag(r, 4)), Float(FloatAt(r, 52)).c_str(),
                        YesNo(Flag(r, 11)));
        s += Flag(r, 11) ? Float(FloatAt(r, 176)) + " " : std::string(9, ' ');
        s += prn_Format("%s ", YesNo(Flag(r, 3)));
        s += Flag(r, 3) ? Float(FloatAt(r, 52) - FloatAt(r, 56)) + " " : std::string(9, ' ');
        s +=
            prn_Format("%-3d %-4d %-32.32s", r.bytes[72], U16At(r, 184), TextAt(r, 74, 32).c_str());
    } else {
        s += std::string(74, ' ');
    }
    s += Flag(r, 8) ? " " + Float(FloatAt(r, 68)) : std::string(9, ' ');
    s += "\n";
    return prn_PrintLine(s.c_str());
}

int DigitalChannel(const std::string &name, const ChannelRecord &r) {
    std::string s = prn_Format("%-7.7s [", name.c_str());
    s += YesNo(Flag(r, 0));
    s += "] ";
    s += prn_Format("%-15.15s ", tag_GetTag(r).c_str());
    s += std::string(20, ' ');
    s += prn_Format(" %-32.32s", TextAt(r, 64, 32).c_str());
    s += prn_Format("%s ", prn_FormatS5Address(r).c_str());
    s += Flag(r, 2) ? prn_Format("[%s] ", State(Flag(r, 4))) : std::string("[DISB] ");
    if (Flag(r, 3))
        s += prn_Format("[%s] [%s] %-3d %-4d %-32.32s", State(Flag(r, 5)), YesNo(Flag(r, 1)),
                        r.bytes[96], U16At(r, 190), TextAt(r, 97, 32).c_str());
    else
        s += "[DISB] ";
    s += "\n";
    s += prn_Format("            %-32.32s ", tag_GetDescription(r).c_str());
    s += prn_Format(" %-32.32s%s\n", TextAt(r, 32, 32).c_str(), AddressNumber(r).c_str());
    return prn_PrintLine(s.c_str());
}

} // namespace

std::string prn_FormatS5Address(const ChannelRecord &record) {
    S5ChannelAddress a = AddressOf(record);
    if (a.type & S5_TYPE_BIT)
        return prn_Format(" %-5d %-3.3s  %-2d  ", a.station, "BIT", a.bit_number);
    const char *type;
    bool word = (a.type & S5_TYPE_WORD) != 0, sign = (a.type & S5_TYPE_SIGNED) != 0;
    if (word)
        type = sign ? "SIGN WORD" : "USIG WORD";
    else
        type = sign ? "SIGN BYTE" : "USIG BYTE";
    return prn_Format(" %-5d %-9.9s", a.station, type);
}

int prn_PrintChannelGroup(PrinterDC *dc, const char *server, const uint8_t *entry, int kind,
                          int first, int last, const DeviceConfig *, const ChannelRecord *table) {
    if (dc == nullptr || entry == nullptr || kind < 0 || kind >= HOST_ENTRY_KIND_COUNT ||
        prn_Attach(dc) < 0)
        return -1;
    const uint8_t *k = entry + HOST_ENTRY_KINDS + 4 * kind;
    std::string id(reinterpret_cast<const char *>(k),
                   strnlen(reinterpret_cast<const char *>(k), 2));
    uint16_t count;
    std::memcpy(&count, k + 2, sizeof count);
    if (last == 0) last = count;
    if (first == 0) first = 1;
    if (first < 0 || last < first || last > count) return -1;

    std::vector<ChannelRecord> buffer;
    if (table == nullptr) {
        const char *f = reinterpret_cast<const char *>(entry + HOST_ENTRY_FOLDER);
        std::string folder(f, strnlen(f, HOST_ENTRY_FOLDER_SIZE));
        buffer.resize(static_cast<size_t>(last - first + 1));
        if (rfile_ReadChannels(server, folder.c_str(), kind, buffer.data(), first - 1,
                               last - first + 1) < 0)
            return -1;
    }
    auto record = [&](int n) -> const ChannelRecord & {
        return table != nullptr ? table[n - 1] : buffer[static_cast<size_t>(n - first)];
    };

    bool digital = (kind & 1) != 0;
    int capacity = prn_LinesPerPage();
    bool printed = false;
    int n = first;
    // A page already past its capacity (a long device header on a short page, or lines carried
    // over in the job) would take no channel and report enabled channels as disabled: the
    // group starts on a new page instead.
    if (prn_CurrentLine() > capacity && prn_PrintLine("\f") < 0) return -1;
    for (;;) {
        bool headed = false;
        while (n <= last) {
            // The counter is tested before a channel is taken, so its lines may run past the end.
            if (prn_CurrentLine() > capacity) break;
            const ChannelRecord &r = record(n);
            std::string name = prn_Format("%1.2s%d", id.c_str(), n);
            ++n;
            if (!Flag(r, 0) || ((r.bytes[ChannelCommon::Type.offset] & 1) != 0) != digital)
                continue;
            if (!headed) {
                if ((digital ? DigitalHeader() : AnalogHeader()) < 0) return -1;
                headed = true;
            }
            if ((digital ? DigitalChannel(name, r) : AnalogChannel(name, r)) < 0) return -1;
            printed = true;
        }
        if (!printed) {
            std::string line = prn_Format("CHANNELS %1.2s%d - ", id.c_str(), first);
            line += prn_Format("%1.2s%d DISABLED\n", id.c_str(), last);
            return prn_PrintLine(line.c_str()) < 0 ? -1 : 0;
        }
        if (prn_PrintLine("\f") < 0) return -1;
        if (n > last) return 0;
    }
}
