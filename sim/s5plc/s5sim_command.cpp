#include "s5sim_command.h"

#include <cctype>
#include <cstdlib>
#include <sstream>

namespace s5sim {

namespace {
bool ParseInt(const std::string &text, long min, long max, long *out) {
    if (text.empty() || !std::isdigit(static_cast<unsigned char>(text[0]))) return false;
    char *end = nullptr;
    long v = std::strtol(text.c_str(), &end, 0);
    if (*end != '\0' || v < min || v > max) return false;
    *out = v;
    return true;
}

std::string Trim(const std::string &s) {
    size_t a = s.find_first_not_of(" \t\r\n");
    if (a == std::string::npos) return {};
    size_t b = s.find_last_not_of(" \t\r\n");
    return s.substr(a, b - a + 1);
}
} // namespace

const char *Usage() {
    return "usage: s5sim (--pty LINK | --port PATH) [--bcc on|off] [--priority high|low]\n"
           "             [--char-delay MS] [--ack MS] [--retries N] [--reaction MS] [--seed N]\n"
           "             [--db N[:WORDS]]... [--dx N[:WORDS]]... [--set LOC=V[,V...]]...\n"
           "             [--fault RULE]... [--log FILE]\n";
}

bool ParseBlockSpec(const std::string &text, std::pair<int, int> *block, std::string *error) {
    std::string number = text, words = "256";
    size_t colon = text.find(':');
    if (colon != std::string::npos) {
        number = text.substr(0, colon);
        words = text.substr(colon + 1);
    }
    long n = 0, w = 0;
    if (!ParseInt(number, 0, 255, &n) || !ParseInt(words, 1, 65536, &w)) {
        *error = "block '" + text + "' is not N[:WORDS] with N 0..255 and WORDS 1..65536";
        return false;
    }
    *block = {static_cast<int>(n), static_cast<int>(w)};
    return true;
}

bool ParseSetting(const std::string &text, Location *loc, std::vector<uint32_t> *values,
                  std::string *error) {
    size_t eq = text.find('=');
    if (eq == std::string::npos) {
        *error = "'" + text + "' is not LOC=V[,V...]";
        return false;
    }
    if (!ParseLocation(Trim(text.substr(0, eq)), loc, error)) return false;
    long limit = AreaElementSize(loc->area) == 1 ? 0xFF : 0xFFFF;
    values->clear();
    std::stringstream list(text.substr(eq + 1));
    std::string item;
    while (std::getline(list, item, ',')) {
        long v = 0;
        if (!ParseInt(Trim(item), 0, limit, &v)) {
            *error = "value '" + item + "' is not 0.." + std::to_string(limit);
            return false;
        }
        values->push_back(static_cast<uint32_t>(v));
    }
    if (values->empty()) {
        *error = "'" + text + "' gives no value";
        return false;
    }
    return true;
}

bool ParseOptions(int argc, char **argv, Options *options, std::string *error) {
    Options o;
    std::vector<std::pair<int, int>> db, dx;
    for (int i = 1; i < argc; ++i) {
        std::string opt = argv[i];
        if (i + 1 >= argc) {
            *error = opt + " needs a value";
            return false;
        }
        std::string v = argv[++i];
        long n = 0;
        auto number = [&](long min, long max, long *out) {
            if (ParseInt(v, min, max, out)) return true;
            *error = opt + " " + v + ": a number " + std::to_string(min) + ".." +
                     std::to_string(max) + " is needed";
            return false;
        };
        if (opt == "--pty") {
            o.pty_link = v;
        } else if (opt == "--port") {
            o.port_path = v;
        } else if (opt == "--bcc") {
            if (v != "on" && v != "off") {
                *error = "--bcc takes on or off";
                return false;
            }
            o.settings.bcc = v == "on";
        } else if (opt == "--priority") {
            if (v != "high" && v != "low") {
                *error = "--priority takes high or low";
                return false;
            }
            o.settings.high_priority = v == "high";
        } else if (opt == "--char-delay") {
            if (!number(0, 3600000, &n)) return false;
            o.settings.char_delay_ms = static_cast<int>(n);
        } else if (opt == "--ack") {
            if (!number(0, 3600000, &n)) return false;
            o.settings.ack_timeout_ms = static_cast<int>(n);
        } else if (opt == "--retries") {
            if (!number(1, 1000, &n)) return false;
            o.settings.retries = static_cast<int>(n);
        } else if (opt == "--reaction") {
            if (!number(0, 3600000, &n)) return false;
            o.settings.reaction_ms = static_cast<int>(n);
        } else if (opt == "--seed") {
            char *end = nullptr;
            unsigned long long s = std::strtoull(v.c_str(), &end, 0);
            if (v.empty() || *end != '\0') {
                *error = "--seed " + v + ": a number is needed";
                return false;
            }
            o.settings.seed = s;
        } else if (opt == "--db" || opt == "--dx") {
            std::pair<int, int> block;
            if (!ParseBlockSpec(v, &block, error)) return false;
            (opt == "--db" ? db : dx).push_back(block);
        } else if (opt == "--set") {
            Location loc;
            std::vector<uint32_t> values;
            if (!ParseSetting(v, &loc, &values, error)) return false;
            o.sets.push_back(v);
        } else if (opt == "--fault") {
            FaultRule rule;
            if (!ParseFaultRule(v, &rule, error)) return false;
            o.faults.push_back(v);
        } else if (opt == "--log") {
            o.log_file = v;
        } else {
            *error = "unknown option " + opt;
            return false;
        }
    }
    if (o.pty_link.empty() == o.port_path.empty()) {
        *error = "exactly one of --pty LINK and --port PATH is needed";
        return false;
    }
    o.settings.db = db;
    o.settings.dx = dx;
    *options = o;
    return true;
}

std::string RunCommand(Simulator &sim, const std::string &raw, bool *quit) {
    std::string line = Trim(raw);
    std::string word = line.substr(0, line.find(' '));
    std::string rest = word.size() < line.size() ? Trim(line.substr(word.size())) : "";
    std::string error;
    if (word.empty()) return {};
    if (word == "quit") {
        *quit = true;
        return {};
    }
    if (word == "set") {
        Location loc;
        std::vector<uint32_t> values;
        if (!ParseSetting(rest, &loc, &values, &error) || !sim.memory().Set(loc, values, &error))
            return "error " + error + "\n";
        return "ok\n";
    }
    if (word == "get") {
        std::stringstream args(rest);
        std::string where, count_text;
        args >> where >> count_text;
        long count = 1;
        Location loc;
        if (!ParseLocation(where, &loc, &error)) return "error " + error + "\n";
        if (!count_text.empty() && !ParseInt(count_text, 1, 65536, &count))
            return "error count '" + count_text + "' is not 1..65536\n";
        std::vector<uint32_t> values;
        if (!sim.memory().Get(loc, static_cast<uint32_t>(count), &values, &error))
            return "error " + error + "\n";
        std::string out = "value " + FormatLocation(loc);
        for (uint32_t v : values)
            out += " " + std::to_string(v);
        return out + "\n";
    }
    if (word == "fault") {
        if (!sim.AddFault(rest, &error)) return "error " + error + "\n";
        return "ok\n";
    }
    if (word == "clear-faults") {
        sim.faults().Clear();
        return "ok\n";
    }
    if (word == "counters") {
        Counters c = sim.counters();
        return "counters commands " + std::to_string(c.commands) + " naks-received " +
               std::to_string(c.naks_received) + " retransmissions " +
               std::to_string(c.retransmissions) + " naks-sent " + std::to_string(c.naks_sent) +
               " replies " + std::to_string(c.replies) + " conflicts " +
               std::to_string(c.conflicts) + " faults " + std::to_string(c.faults) + "\n";
    }
    return "error unknown command '" + word + "' (set, get, fault, clear-faults, counters, quit)\n";
}

} // namespace s5sim
