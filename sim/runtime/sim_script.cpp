#include "sim_runtime.h"

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <istream>
#include <ostream>
#include <set>
#include <sstream>
#include <thread>

namespace {
std::string field(const char *text, size_t size) {
    return std::string(text, strnlen(text, size));
}

// Channels shown in one line of a table.
constexpr size_t k_shownChannels = 8;

bool parseInt(const std::string &text, long long *out) {
    if (text.empty()) return false;
    char *end = nullptr;
    *out = strtoll(text.c_str(), &end, 0);
    return *end == '\0';
}

std::string hex(uint32_t v) {
    char b[16];
    snprintf(b, sizeof b, "0x%X", v);
    return b;
}

std::string floatText(float f) {
    char b[32];
    snprintf(b, sizeof b, "%g", static_cast<double>(f));
    return b;
}
} // namespace

std::string SimRuntime::showSlot(int number) {
    DeviceSlot s;
    if (!slot(number, &s)) return "no device " + std::to_string(number) + "\n";
    std::ostringstream o;
    int32_t interval;
    memcpy(&interval, s.deviceConfig, 4);
    o << "slot " << number << ": type=" << field(s.typeName, 9)
      << " name=" << field(s.deviceName, 25) << " folder=" << field(s.folder, 12) << " ids=";
    for (int k = 0; k < DM_KIND_IDS; ++k)
        o << (k ? "," : "") << field(s.kindIds[k], 2);
    o << " running=" << int(s.running) << " pid=" << s.pid << " configured=" << int(s.configured)
      << " initialising=" << int(s.initialising) << " duration=" << s.scanDuration
      << " next=" << s.nextScan.seconds << "." << s.nextScan.milliseconds
      << " interval=" << interval << "\n";
    return o.str();
}

std::string SimRuntime::showTable(const std::string &id) {
    ChannelTableHeader h;
    if (!tableHeader(id, &h)) return "no table " + id + "\n";
    std::ostringstream o;
    o << "table " << field(h.tableId, 2) << ": type=" << h.tableType
      << " channels=" << h.channelCount << " status=" << h.statusCode
      << " duration=" << h.lastScanMs << " stamp=" << h.fileTime.seconds << " statuses=";
    std::vector<uint32_t> st = statuses(id);
    for (size_t i = 0; i < st.size() && i < k_shownChannels; ++i)
        o << (i ? "," : "") << hex(st[i]);
    std::vector<float> v = values(id);
    if (!v.empty()) {
        o << " values=";
        for (size_t i = 0; i < v.size() && i < k_shownChannels; ++i)
            o << (i ? "," : "") << floatText(v[i]);
    }
    o << "\n";
    return o.str();
}

std::string SimRuntime::showErrors() {
    std::string t = errorTexts();
    return t.empty() ? "no status texts\n" : t;
}

std::string SimRuntime::showCodes() {
    std::ostringstream o;
    for (const SimReceived &r : received())
        if (r.receiver != "xalarms" && r.receiver != "derived")
            o << r.atMs << " ms " << r.receiver << " code " << r.code << "\n";
    return o.str();
}

std::string SimRuntime::showAlarms() {
    std::ostringstream o;
    for (const SimReceived &r : received()) {
        if (r.receiver != "xalarms" && r.receiver != "derived") continue;
        o << r.atMs << " ms " << r.receiver << " " << r.bytes.size() << " bytes:";
        for (size_t i = 0; i < r.bytes.size() && i < 16; ++i) {
            char b[4];
            snprintf(b, sizeof b, " %02X", r.bytes[i]);
            o << b;
        }
        o << "\n";
    }
    return o.str();
}

int SimRuntime::command(const std::string &line, std::ostream &out,
                        const std::atomic<bool> &stopFlag) {
    std::istringstream in(line.substr(0, line.find('#')));
    std::vector<std::string> w;
    for (std::string s; in >> s;)
        w.push_back(s);
    if (w.empty()) return 0;
    long long n = 0, code = 0;
    const std::string &verb = w[0];
    bool numbered = w.size() >= 2 && parseInt(w[1], &n);
    if (verb == "start" && w.size() == 2 && numbered) return start(static_cast<int>(n));
    if (verb == "wait-ready" && w.size() == 2 && numbered) return waitReady(static_cast<int>(n));
    if (verb == "scan" && w.size() == 2 && numbered) {
        if (scan(static_cast<int>(n)) != 0) return -1;
        out << "scan of device " << n << " finished\n";
        return 0;
    }
    if (verb == "post" && w.size() == 3 && numbered && parseInt(w[2], &code))
        return post(static_cast<int>(n), static_cast<int32_t>(code));
    if (verb == "write" && w.size() == 4 && parseInt(w[2], &n)) {
        char *end = nullptr;
        double value = strtod(w[3].c_str(), &end);
        if (*end != '\0') return fail("bad value '" + w[3] + "'");
        return write(w[1], static_cast<int>(n), value);
    }
    if (verb == "stop" && w.size() == 2 && numbered) {
        int status = 0;
        if (stop(static_cast<int>(n), &status) != 0) return -1;
        out << "scanner " << n << " exited with " << status << "\n";
        return 0;
    }
    if (verb == "show" && w.size() == 3 && w[1] == "slot" && parseInt(w[2], &n)) {
        out << showSlot(static_cast<int>(n));
        return 0;
    }
    if (verb == "show" && w.size() == 3 && w[1] == "table") {
        out << showTable(w[2]);
        return 0;
    }
    if (verb == "show" && w.size() == 2 && w[1] == "errors") {
        out << showErrors();
        return 0;
    }
    if (verb == "show" && w.size() == 2 && w[1] == "codes") {
        out << showCodes();
        return 0;
    }
    if (verb == "show" && w.size() == 2 && w[1] == "alarms") {
        out << showAlarms();
        return 0;
    }
    if (verb == "show" && w.size() == 2 && w[1] == "requests") {
        out << showRequests();
        return 0;
    }
    if (verb == "run" && w.size() == 1) return run(out, stopFlag);
    if (int r = observeCommand(w, out); r != 1) return r;
    return fail("unknown command '" + line + "'");
}

int SimRuntime::runScript(std::istream &in, std::ostream &out, const std::atomic<bool> &stopFlag) {
    int lineNumber = 0;
    for (std::string line; !stopFlag && std::getline(in, line);) {
        ++lineNumber;
        if (command(line, out, stopFlag) != 0) {
            out.flush();
            lastError_ = "line " + std::to_string(lineNumber) + ": " + lastError_;
            return 1;
        }
        out.flush();
    }
    return 0;
}

int SimRuntime::run(std::ostream &out, const std::atomic<bool> &stopFlag) {
    struct Schedule {
        int number;
        int64_t intervalMs;
        int64_t dueMs;
        bool pending = false;
        uint64_t mark = 0;
        int64_t postedMs = 0;
        std::vector<int32_t> expected;
    };
    std::vector<Schedule> schedules;
    for (const SimDeviceDesc &d : description_.devices) {
        DeviceSlot s;
        if (!running(d.number) || !slot(d.number, &s)) continue;
        int32_t interval;
        memcpy(&interval, s.deviceConfig, 4);
        schedules.push_back({d.number, interval > 0 ? interval : 1000, nowMs(), false, 0, 0, {}});
    }
    if (schedules.empty()) return fail("run: no scanner is running");
    uint64_t shown = sequenceNow();
    while (!stopFlag) {
        int64_t now = nowMs();
        out << showReceived(&shown);
        for (Schedule &s : schedules) {
            if (!running(s.number)) continue;
            if (s.pending) {
                bool done;
                {
                    std::lock_guard<std::mutex> guard(receivedLock_);
                    done = codesSince(s.mark, s.expected);
                }
                if (done) {
                    s.pending = false;
                    const SimDeviceDesc *d = device(s.number);
                    for (int k = 0; k < DM_KIND_IDS; ++k)
                        if (!d->ids[k].empty() && table(d->ids[k]) != nullptr)
                            out << "device " << s.number << " " << showTable(d->ids[k]);
                    out.flush();
                } else if (now - s.postedMs > k_waitMs) {
                    out << "device " << s.number << ": scan not finished in " << k_waitMs / 1000
                        << " s\n";
                    s.pending = false;
                }
            }
            if (!s.pending && now >= s.dueMs) {
                // Not posted while the previous scan is still running.
                if (requestScan(s.number, &s.expected, &s.mark) == 0) {
                    s.pending = true;
                    s.postedMs = now;
                }
                s.dueMs += s.intervalMs;
                if (s.dueMs < now) s.dueMs = now + s.intervalMs;
            }
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    return 0;
}
