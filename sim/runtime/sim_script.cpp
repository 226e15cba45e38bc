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

// An argument command() has checked to be a number.
int toInt(const std::string &text) {
    return static_cast<int>(strtoll(text.c_str(), nullptr, 0));
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
      << " duration=" << h.lastScanMs << " stamp=" << h.fileTime.seconds;
    std::vector<uint32_t> st = statuses(id);
    std::vector<float> v = values(id);
    if (st.size() > k_shownChannels) st.resize(k_shownChannels);
    if (v.size() > k_shownChannels) v.resize(k_shownChannels);
    std::string valueText;
    for (size_t i = 0; i < v.size(); ++i)
        valueText += (i ? "," : "") + floatText(v[i]);
    if (hexOutput_) {
        o << " statuses=";
        for (size_t i = 0; i < st.size(); ++i)
            o << (i ? "," : "") << hex(st[i]);
        if (!v.empty()) o << " values=" << valueText;
        o << "\n";
        return o.str();
    }
    // Channels in a row with the same status are shown once: "1-8: 0x80 analog".
    std::vector<std::string> items = {"statuses"};
    for (size_t i = 0; i < st.size();) {
        size_t j = i;
        while (j + 1 < st.size() && st[j + 1] == st[i])
            ++j;
        std::string range = std::to_string(i + 1) + (j > i ? "-" + std::to_string(j + 1) : "");
        bool more = j + 1 < st.size() || !v.empty();
        items.push_back(range + ": " + sim_StatusText(st[i]) + (more ? ";" : ""));
        i = j + 1;
    }
    if (!v.empty()) items.push_back("values " + valueText);
    return sim_WrapLine(o.str(), items);
}

std::string SimRuntime::showErrors() {
    std::string t = errorTexts();
    return t.empty() ? "no status texts\n" : t;
}

std::string SimRuntime::showCodes() {
    std::ostringstream o;
    for (const SimReceived &r : received()) {
        if (r.receiver == "xalarms" || r.receiver == "derived") continue;
        if (hexOutput_)
            o << r.atMs << " ms " << r.receiver << " code " << r.code << "\n";
        else if (r.receiver == "runtime")
            o << r.atMs << " ms runtime: " << explainCode(r.code) << "\n";
        else
            o << r.atMs << " ms " << explainLogger(r) << "\n";
    }
    return o.str();
}

std::string SimRuntime::showAlarms() {
    std::ostringstream o;
    for (const SimReceived &r : received()) {
        if (r.receiver != "xalarms" && r.receiver != "derived") continue;
        if (!hexOutput_) {
            o << r.atMs << " ms " << (r.receiver == "xalarms" ? explainAlarm(r) : explainDerived(r))
              << "\n";
            continue;
        }
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

const std::vector<SimRuntime::Command> &SimRuntime::commands() {
    using Words = std::vector<std::string>;
    using Stop = std::atomic<bool>;
    // Arguments that must be numbers are checked here, before the command runs.
    static const std::vector<Command> table = {
        {"start", "<device>", "starts the device's scanner", 1, 1, "n",
         [](SimRuntime &rt, const Words &a, std::ostream &, const Stop &) {
             return rt.start(toInt(a[0]));
         }},
        {"wait-ready", "<device>", "waits until the scanner has started (10 s at most)", 1, 1, "n",
         [](SimRuntime &rt, const Words &a, std::ostream &, const Stop &) {
             return rt.waitReady(toInt(a[0]));
         }},
        {"scan", "<device>", "requests one scan and waits until every table is published", 1, 1,
         "n",
         [](SimRuntime &rt, const Words &a, std::ostream &out, const Stop &) {
             if (rt.scan(toInt(a[0])) != 0) return -1;
             out << "scan of device " << a[0] << " finished\n";
             return 0;
         }},
        {"post", "<device> <code>", "posts a notification code to the device's scanner", 2, 2, "nn",
         [](SimRuntime &rt, const Words &a, std::ostream &, const Stop &) {
             return rt.post(toInt(a[0]), toInt(a[1]));
         }},
        {"write", "<table> <channel> <value>",
         "writes an output as another process would (digital: 0 or 1) and tells its owner", 3, 3,
         "-n-",
         [](SimRuntime &rt, const Words &a, std::ostream &, const Stop &) {
             long long n = 0;
             if (!parseInt(a[1], &n)) return rt.fail("bad channel '" + a[1] + "'");
             char *end = nullptr;
             double value = strtod(a[2].c_str(), &end);
             if (*end != '\0') return rt.fail("bad value '" + a[2] + "'");
             return rt.write(a[0], static_cast<int>(n), value);
         }},
        {"stop", "<device>", "posts the stop code and waits for the scanner's exit status", 1, 1,
         "n",
         [](SimRuntime &rt, const Words &a, std::ostream &out, const Stop &) {
             int status = 0;
             if (rt.stop(toInt(a[0]), &status) != 0) return -1;
             out << "scanner " << a[0] << " exited with " << status << "\n";
             return 0;
         }},
        {"show slot", "<device>", "the device's slot", 1, 1, "n",
         [](SimRuntime &rt, const Words &a, std::ostream &out, const Stop &) {
             out << rt.showSlot(toInt(a[0]));
             return 0;
         }},
        {"show table", "<table>", "a table's header, statuses and values", 1, 1, "",
         [](SimRuntime &rt, const Words &a, std::ostream &out, const Stop &) {
             out << rt.showTable(a[0]);
             return 0;
         }},
        {"show errors", "", "the status texts of the system error table", 0, 0, "",
         [](SimRuntime &rt, const Words &, std::ostream &out, const Stop &) {
             out << rt.showErrors();
             return 0;
         }},
        {"show codes", "", "the codes received by the runtime and the loggers", 0, 0, "",
         [](SimRuntime &rt, const Words &, std::ostream &out, const Stop &) {
             out << rt.showCodes();
             return 0;
         }},
        {"show alarms", "", "the alarm messages and derived-value notices received", 0, 0, "",
         [](SimRuntime &rt, const Words &, std::ostream &out, const Stop &) {
             out << rt.showAlarms();
             return 0;
         }},
        {"show requests", "", "the requests the runtime's pipe received", 0, 0, "",
         [](SimRuntime &rt, const Words &, std::ostream &out, const Stop &) {
             out << rt.showRequests();
             return 0;
         }},
        {"show received", "", "everything received, one line each", 0, 0, "",
         [](SimRuntime &rt, const Words &, std::ostream &out, const Stop &) {
             uint64_t from = 0;
             out << rt.showReceived(&from);
             return 0;
         }},
        {"events", "<table> <row> <channel>...",
         "marks channels in an event row (0: derived values, i + 1: logger i)", 3, -1, "-nn*",
         [](SimRuntime &rt, const Words &a, std::ostream &, const Stop &) {
             for (size_t i = 2; i < a.size(); ++i)
                 if (rt.setEventChannel(a[0], toInt(a[1]), toInt(a[i]), true) != 0) return -1;
             return 0;
         }},
        {"enable", "<process> <0|1>", "sets a data process's enabled byte", 2, 2, "-n",
         [](SimRuntime &rt, const Words &a, std::ostream &, const Stop &) {
             return rt.setProcessEnabled(a[0], toInt(a[1]));
         }},
        {"receiver", "<xalarms|derived> <on|off>",
         "binds or unbinds the alarm or derived-value receiver", 2, 2, "",
         [](SimRuntime &rt, const Words &a, std::ostream &, const Stop &) {
             if (a[1] != "on" && a[1] != "off") return rt.fail("receiver is turned on or off");
             return rt.setReceiver(a[0], a[1] == "on");
         }},
        {"run", "[scans]",
         "scans every running device at its interval and shows each finished scan and all "
         "that arrives, until interrupted or for the number of scans given",
         0, 1, "",
         [](SimRuntime &rt, const Words &a, std::ostream &out, const Stop &stop) {
             long long scans = 0;
             if (!a.empty() && (!parseInt(a[0], &scans) || scans < 1))
                 return rt.fail("run takes a number of scans");
             return rt.run(out, stop, static_cast<int>(scans));
         }},
    };
    return table;
}

std::string SimRuntime::scriptUsage() {
    std::string text;
    for (const Command &c : commands())
        text += std::string("  ") + c.name + (*c.arguments ? " " : "") + c.arguments + "\n      " +
                c.meaning + "\n";
    return text;
}

int SimRuntime::command(const std::string &line, std::ostream &out,
                        const std::atomic<bool> &stopFlag) {
    std::istringstream in(line.substr(0, line.find('#')));
    std::vector<std::string> w;
    for (std::string s; in >> s;)
        w.push_back(s);
    if (w.empty()) return 0;
    for (const Command &c : commands()) {
        std::istringstream nameWords(c.name);
        size_t used = 0;
        bool match = true;
        for (std::string s; match && nameWords >> s; ++used)
            match = used < w.size() && w[used] == s;
        if (!match) continue;
        std::vector<std::string> args(w.begin() + static_cast<long>(used), w.end());
        int count = static_cast<int>(args.size());
        if (count < c.minArgs || (c.maxArgs >= 0 && count > c.maxArgs))
            return fail(std::string(c.name) + " " + c.arguments);
        // numbers: 'n' for an argument that must be a number, '-' for one that need not; a
        // final '*' repeats the one before it for the arguments after.
        std::string pattern = c.numbers;
        bool repeat = !pattern.empty() && pattern.back() == '*';
        if (repeat) pattern.pop_back();
        for (size_t i = 0; i < args.size() && !pattern.empty(); ++i) {
            char kind = i < pattern.size() ? pattern[i] : repeat ? pattern.back() : '-';
            long long n;
            if (kind == 'n' && !parseInt(args[i], &n))
                return fail(std::string(c.name) + ": '" + args[i] + "' is not a number");
        }
        return c.run(*this, args, out, stopFlag);
    }
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

int SimRuntime::run(std::ostream &out, const std::atomic<bool> &stopFlag, int scans) {
    struct Schedule {
        int number;
        int64_t intervalMs;
        int64_t dueMs;
        bool pending = false;
        uint64_t mark = 0;
        int64_t postedMs = 0;
        std::vector<int32_t> expected;
        int finished = 0;
    };
    std::vector<Schedule> schedules;
    for (const SimDeviceDesc &d : description_.devices) {
        DeviceSlot s;
        if (!running(d.number) || !slot(d.number, &s)) continue;
        int32_t interval;
        memcpy(&interval, s.deviceConfig, 4);
        schedules.push_back(
            {d.number, interval > 0 ? interval : 1000, nowMs(), false, 0, 0, {}, 0});
    }
    if (schedules.empty()) return fail("run: no scanner is running");
    uint64_t shown = sequenceNow();
    auto allDone = [&] {
        if (scans <= 0) return false;
        for (const Schedule &s : schedules)
            if (s.finished < scans && running(s.number)) return false;
        return true;
    };
    while (!stopFlag && !allDone()) {
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
                    ++s.finished;
                    const SimDeviceDesc *d = device(s.number);
                    for (int k = 0; k < DM_KIND_IDS; ++k)
                        if (!d->ids[k].empty() && table(d->ids[k]) != nullptr)
                            out << "device " << s.number << " " << showTable(d->ids[k]);
                    out.flush();
                } else if (now - s.postedMs > k_waitMs) {
                    out << "device " << s.number << ": scan not finished in " << k_waitMs / 1000
                        << " s\n";
                    s.pending = false;
                    ++s.finished;
                }
            }
            if (!s.pending && now >= s.dueMs && (scans <= 0 || s.finished < scans)) {
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
    // What arrived with the last scans.
    out << showReceived(&shown);
    return 0;
}
