// What the stand-in's received messages and channel statuses mean, in the words of someone
// watching the plant: an alarm message as one line naming the channel's tag, what happened,
// its limit or state, value, priority and origin; logger and derived-value notices with the
// channels they concern; the stand-in's own codes by what they confirm.
#include "sim_runtime.h"

#include "alm.h"
#include "chrec.h"
#include "dmw.h"
#include "shm.h"
#include "tag.h"

#include <cstdio>
#include <cstring>

namespace {
namespace cs = ChannelStatusBits;

// Every line of the default output stays within this, so that a terminal shows it whole; a
// line made here leaves room for the prefix its caller puts before it ("<ms> ", "device N ").
constexpr size_t k_lineLimit = 200;
constexpr size_t k_prefixRoom = 16;

const struct {
    uint32_t bit;
    const char *name;
} k_statusBits[] = {
    {cs::CS_STATE, "state"},
    {cs::CS_ALARM_ON, "alarm-on"},
    {cs::CS_ALARM_HIGH, "alarm-high"},
    {cs::CS_EVENT, "event"},
    {cs::CS_EVENT_HIGH, "event-high"},
    {cs::CS_BAD, "bad"},
    {cs::CS_ALARM_SHOWN, "alarm-shown"},
    {cs::CS_ANALOG, "analog"},
    {cs::CS_WARNING_HIGH, "warning-high"},
    {cs::CS_WARNING, "warning"},
    {cs::CS_ALARM, "alarm"},
};

std::string number(float f) {
    char b[32];
    snprintf(b, sizeof b, "%g", static_cast<double>(f));
    return b;
}

std::string cut(std::string text, size_t limit) {
    if (text.size() > limit) text = text.substr(0, limit - 3) + "...";
    return text;
}

bool confRecord(const std::string &id, int channel, ChannelRecord *out) {
    SegmentHeader *seg = shm_OpenSegment(("dm_" + id + "_conf").c_str());
    if (seg == SHM_NO_SEGMENT || channel < 1) return false;
    int32_t offset = static_cast<int32_t>(CHANNEL_RECORD_SIZE) * (channel - 1);
    if (offset + static_cast<int32_t>(CHANNEL_RECORD_SIZE) > seg->payloadLength) return false;
    return shm_Read(seg, out, offset, CHANNEL_RECORD_SIZE) == 0;
}

// "A1 1 AI-1": the table, the channel and, when its configuration is published, its tag.
std::string channelName(const std::string &id, int channel) {
    std::string text = id + " " + std::to_string(channel);
    ChannelRecord rec;
    if (confRecord(id, channel, &rec)) {
        std::string tag = tag_GetTag(rec);
        if (!tag.empty()) text += " " + tag;
    }
    return text;
}

// What an alarm message reports, with the limit or state it concerns.
std::string happening(const SimAlarm &a, const ChannelRecord *rec) {
    namespace an = ChannelAnalog;
    namespace dg = ChannelDigital;
    bool start = a.kind == 0 || a.kind == 4;
    bool warning = a.kind == 4 || a.kind == 5;
    std::string side = a.analogue ? (a.high ? "high " : "low ") : "";
    std::string text;
    if (a.bad && !warning)
        text = start ? "error alarm (channel bad)" : "error alarm ended (channel good)";
    else
        text = side + (warning ? "warning" : "alarm") + (start ? "" : " ended");
    if (rec == nullptr || a.bad) return text;
    if (a.analogue) {
        float limit;
        if (warning)
            limit = chrec_Get(*rec, a.high ? an::HighWarningLimit : an::LowWarningLimit);
        else if (start)
            limit = chrec_Get(*rec, a.high ? an::HighAlarmLimit : an::LowAlarmLimit);
        else
            // The alarm ends at its deadband level when one is set, else at the limit.
            limit = chrec_TestFlag(*rec, a.high ? an::HighAlarmDeadbandEnable
                                                : an::LowAlarmDeadbandEnable)
                        ? chrec_Get(*rec, a.high ? an::HighAlarmDeadband : an::LowAlarmDeadband)
                        : chrec_Get(*rec, a.high ? an::HighAlarmLimit : an::LowAlarmLimit);
        return text + ", limit " + number(limit);
    }
    // The state the alarm is on, in the start and in the end message alike.
    std::string stateText = chrec_GetText(*rec, a.high ? dg::HighStateText : dg::LowStateText);
    return text + ", alarm state " + (a.high ? "1" : "0") +
           (stateText.empty() ? "" : " " + stateText);
}
} // namespace

std::string sim_StatusText(uint32_t status) {
    char hex[16];
    snprintf(hex, sizeof hex, "0x%X", status);
    std::string text = hex;
    uint32_t named = 0;
    for (const auto &b : k_statusBits)
        if (status & b.bit) {
            text += " ";
            text += b.name;
            named |= b.bit;
        }
    if (uint32_t rest = status & ~named; rest != 0) {
        snprintf(hex, sizeof hex, " 0x%X", rest);
        text += hex;
    }
    return text;
}

std::string sim_WrapLine(const std::string &line, const std::vector<std::string> &items) {
    std::string out = line;
    size_t lineStart = 0;
    for (const std::string &item : items) {
        size_t limit = lineStart == 0 ? k_lineLimit - k_prefixRoom : k_lineLimit;
        if (out.size() - lineStart + 1 + item.size() > limit) {
            out += "\n   ";
            lineStart = out.size() - 3;
        }
        out += " " + item;
    }
    return out + "\n";
}

std::string SimRuntime::explainAlarm(const SimReceived &r) const {
    SimAlarm a;
    if (!sim_DecodeAlarm(r.bytes, &a))
        return "alarm message of " + std::to_string(r.bytes.size()) + " bytes (296 expected)";
    std::string text;
    switch (a.kind) {
    case 2:
        text = "text " + a.tableId + " " + std::to_string(a.channel) + ": " +
               std::string(reinterpret_cast<const char *>(r.bytes.data()) + 65,
                           strnlen(reinterpret_cast<const char *>(r.bytes.data()) + 65, 227));
        break;
    case 3:
        text = "system message";
        break;
    case 6:
    case 7:
        text = "message kind " + std::to_string(a.kind) + " " + a.tableId + " " +
               std::to_string(a.channel);
        break;
    default: {
        ChannelRecord rec;
        bool known = confRecord(a.tableId, a.channel, &rec);
        text = channelName(a.tableId, a.channel) + ": " + happening(a, known ? &rec : nullptr);
        if (a.hasValue) text += ", value " + number(a.value);
        if (a.kind == 0 || a.kind == 4) text += ", priority " + std::to_string(a.priority);
        if (a.kind == 0 && a.delay != 0) text += ", delay " + std::to_string(a.delay);
        if (a.driveCommon) text += ", drives common alarm";
    }
    }
    // Origin last, each name cut so that the whole line keeps within the limit.
    text += ", from " + cut(a.computer, 15) + "/" + cut(a.user, 32);
    return cut("alarm " + text, k_lineLimit - k_prefixRoom);
}

std::string SimRuntime::explainDerived(const SimReceived &r) const {
    std::string id(r.bytes.begin(), r.bytes.end());
    id = id.substr(0, strnlen(id.c_str(), id.size()));
    std::string text = "derived values: table " + id + " changed";
    std::string channels = eventChannels(id, 0);
    if (!channels.empty()) text += "; feeds " + channels;
    return cut(text, k_lineLimit - k_prefixRoom);
}

std::string SimRuntime::explainLogger(const SimReceived &r) const {
    std::string name = r.receiver.substr(7);
    size_t index = 0;
    while (index < description_.loggers.size() && description_.loggers[index].name != name)
        ++index;
    uint32_t code = static_cast<uint32_t>(r.code);
    // The code carries the net number of events started (positive) or ended (negative) in
    // one pass, above one base when significant changes came with them.
    bool changes = code >= ALM_LOGGER_CHANGES;
    int64_t events = static_cast<int64_t>(code) -
                     static_cast<int64_t>(changes ? ALM_LOGGER_CHANGES : ALM_LOGGER_EVENTS);
    std::string what;
    if (changes) what = "significant change";
    if (events != 0) {
        if (!what.empty()) what += ", ";
        int64_t n = events > 0 ? events : -events;
        what += std::to_string(n) + (n == 1 ? " event " : " events ") +
                (events > 0 ? "started" : "ended");
    }
    if (what.empty()) what = "no change";
    std::string text = "logger " + std::to_string(index) + " " + name + ": " + what;
    std::string channels;
    for (const SimTableDesc &t : description_.tables) {
        std::string c = eventChannels(t.id, static_cast<int>(index) + 1);
        if (!c.empty()) channels += (channels.empty() ? "" : ", ") + c;
    }
    if (!channels.empty()) text += "; logs " + channels;
    std::string codeText = " (code " + std::to_string(code) + ")";
    return cut(text, k_lineLimit - k_prefixRoom - codeText.size()) + codeText;
}

std::string SimRuntime::explainCode(int32_t code) const {
    size_t table = static_cast<size_t>(code - k_oneShotBase);
    if (code >= k_oneShotBase && table < description_.tables.size())
        return description_.tables[table].id + " published";
    return "code " + std::to_string(code);
}

std::string SimRuntime::eventChannels(const std::string &id, int row) const {
    const SimTableDesc *t = table(id);
    if (t == nullptr) return "";
    int rowLength = t->channels >> 3;
    SegmentHeader *seg = shm_OpenSegment(("dm_" + t->id + "_event").c_str());
    if (seg == SHM_NO_SEGMENT || rowLength == 0 || (row + 1) * rowLength > seg->payloadLength)
        return "";
    std::vector<uint8_t> bits(static_cast<size_t>(rowLength));
    if (shm_Read(seg, bits.data(), row * rowLength, rowLength) != 0) return "";
    std::string text;
    for (int n = 0; n < rowLength * 8; ++n)
        if (bits[static_cast<size_t>(n >> 3)] & (0x80 >> (n & 7)))
            text += (text.empty() ? "" : ", ") + channelName(t->id, n + 1);
    return text;
}
