// What the stand-in shows of the messages it receives (alarm messages, derived-value notices,
// logger codes, its own codes), and the controls that tests and the demo use on the alarm
// and derived-value processes and on the event bitmaps.
#include "sim_runtime.h"

#include "alm.h"
#include "dm.h"
#include "plat_mailslot.h"
#include "shm.h"

#include <chrono>
#include <cstdio>
#include <cstring>
#include <ostream>
#include <sstream>

bool sim_DecodeAlarm(const std::vector<uint8_t> &bytes, SimAlarm *out) {
    if (bytes.size() != sizeof(AlarmMessage)) return false;
    AlarmMessage m;
    memcpy(&m, bytes.data(), sizeof m);
    SimAlarm a;
    a.tableId.assign(m.tableId, 2);
    a.channel = m.channel & 0x7FFF;
    a.bad = (m.channel & ALM_BAD_CHANNEL) != 0;
    a.delay = m.delay;
    a.kind = static_cast<int>(m.bits & 7);
    a.analogue = (m.bits & ALM_BIT_ANALOG) != 0;
    a.high = (m.bits & ALM_BIT_HIGH) != 0;
    a.driveCommon = (m.bits & ALM_BIT_DRIVE_COMMON) != 0;
    a.priority = static_cast<int>((m.bits >> ALM_PRIORITY_SHIFT) & 0xFF);
    uint32_t valueBits;
    memcpy(&valueBits, &m.value, 4);
    a.hasValue = valueBits != ALM_NO_VALUE;
    a.value = m.value;
    a.computer.assign(m.computer, strnlen(m.computer, sizeof m.computer));
    a.user.assign(m.user, strnlen(m.user, sizeof m.user));
    a.flags = m.flags;
    *out = a;
    return true;
}

std::string SimRuntime::formatReceived(const SimReceived &r) const {
    std::ostringstream o;
    o << r.atMs << " ";
    if (!hexOutput_) {
        if (r.receiver == "xalarms")
            o << explainAlarm(r);
        else if (r.receiver == "derived")
            o << explainDerived(r);
        else if (r.receiver.rfind("logger ", 0) == 0)
            o << explainLogger(r);
        else
            o << explainCode(r.code);
    } else if (r.receiver == "xalarms") {
        o << "xalarms ";
        if (r.bytes.size() != sizeof(AlarmMessage)) o << "(" << r.bytes.size() << " bytes) ";
        for (uint8_t b : r.bytes) {
            char hex[3];
            snprintf(hex, sizeof hex, "%02x", b);
            o << hex;
        }
    } else if (r.receiver == "derived") {
        o << "derived " << std::string(r.bytes.begin(), r.bytes.end());
    } else if (r.receiver.rfind("logger ", 0) == 0) {
        std::string name = r.receiver.substr(7);
        size_t index = 0;
        while (index < description_.loggers.size() && description_.loggers[index].name != name)
            ++index;
        o << "logger " << index << " " << static_cast<uint32_t>(r.code);
    } else {
        o << "code " << r.code;
    }
    o << "\n";
    return o.str();
}

std::string SimRuntime::showReceived(uint64_t *fromSequence) {
    std::string text;
    for (const SimReceived &r : received()) {
        if (r.sequence <= *fromSequence) continue;
        text += formatReceived(r);
        *fromSequence = r.sequence;
    }
    return text;
}

int SimRuntime::waitReceived(const std::string &receiver, size_t count, int timeoutMs) {
    std::unique_lock<std::mutex> lock(receivedLock_);
    auto enough = [&] {
        size_t n = 0;
        for (const SimReceived &r : received_)
            if (r.receiver == receiver) ++n;
        return n >= count;
    };
    if (receivedChanged_.wait_for(lock, std::chrono::milliseconds(timeoutMs), enough)) return 0;
    lastError_ = "fewer than " + std::to_string(count) + " records from " + receiver;
    return -1;
}

int SimRuntime::setProcessEnabled(const std::string &name, int enabled) {
    SegmentHeader *seg = shm_OpenSegment("dm_datproc");
    if (seg == SHM_NO_SEGMENT) return fail("no segment dm_datproc");
    shm_Lock(seg);
    int32_t count;
    memcpy(&count, shm_Payload(seg), 4);
    bool found = false;
    for (int32_t i = 0; i < count; ++i) {
        auto *e = reinterpret_cast<DataProcessEntry *>(shm_Payload(seg) + 4 + 60 * i);
        if (strncmp(e->name, name.c_str(), sizeof e->name) == 0) {
            e->enabled = static_cast<uint8_t>(enabled);
            found = true;
        }
    }
    shm_Unlock(seg);
    return found ? 0 : fail("no data process " + name);
}

int SimRuntime::setEventChannel(const std::string &id, int row, int channel, bool on) {
    const SimTableDesc *t = table(id);
    if (t == nullptr) return fail("no table " + id);
    int rowLength = t->channels >> 3;
    if (channel < 1 || ((channel - 1) >> 3) >= rowLength || row < 0 ||
        row > static_cast<int>(description_.loggers.size()))
        return fail("table " + t->id + " has no event bit for channel " + std::to_string(channel) +
                    " in row " + std::to_string(row));
    SegmentHeader *seg = shm_OpenSegment(("dm_" + t->id + "_event").c_str());
    if (seg == SHM_NO_SEGMENT) return fail("no segment dm_" + t->id + "_event");
    int n = channel - 1;
    uint8_t mask = static_cast<uint8_t>(0x80 >> (n & 7));
    shm_Lock(seg);
    uint8_t &byte = shm_Payload(seg)[row * rowLength + (n >> 3)];
    byte = on ? (byte | mask) : (byte & ~mask);
    shm_Unlock(seg);
    return 0;
}

int SimRuntime::setReceiver(const std::string &receiver, bool on) {
    if (receiver != "xalarms" && receiver != "derived") return fail("no receiver " + receiver);
    if (!on) return unbind(receiver);
    return bind(receiver, receiver, receiver == "xalarms" ? 296 : 2);
}
