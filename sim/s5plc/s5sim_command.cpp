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

namespace {
// What an option handler works on: the options being built and the blocks named so far.
struct OptionState {
    Options o;
    std::vector<std::pair<int, int>> db, dx;
};

bool Number(const std::string &opt, const std::string &v, long min, long max, long *out,
            std::string *error) {
    if (ParseInt(v, min, max, out)) return true;
    *error = opt + " " + v + ": a number " + std::to_string(min) + ".." + std::to_string(max) +
             " is needed";
    return false;
}

// The command line's options, each with its value; the usage is made from this table.
const struct Option {
    const char *name;
    const char *value;
    const char *meaning;
    bool (*set)(OptionState &, const std::string &opt, const std::string &v, std::string *error);
} k_options[] = {
    {"--pty", "LINK", "serve a new pseudo-terminal, linked at LINK",
     [](OptionState &s, const std::string &, const std::string &v, std::string *) {
         s.o.pty_link = v;
         return true;
     }},
    {"--port", "PATH", "serve a serial line instead (exactly one of --pty and --port)",
     [](OptionState &s, const std::string &, const std::string &v, std::string *) {
         s.o.port_path = v;
         return true;
     }},
    {"--bcc", "on|off", "block check character in frames (default on)",
     [](OptionState &s, const std::string &, const std::string &v, std::string *error) {
         if (v != "on" && v != "off") {
             *error = "--bcc takes on or off";
             return false;
         }
         s.o.settings.bcc = v == "on";
         return true;
     }},
    {"--priority", "high|low", "the controller's priority when both sides send at once",
     [](OptionState &s, const std::string &, const std::string &v, std::string *error) {
         if (v != "high" && v != "low") {
             *error = "--priority takes high or low";
             return false;
         }
         s.o.settings.high_priority = v == "high";
         return true;
     }},
    {"--char-delay", "MS", "character delay time-out",
     [](OptionState &s, const std::string &opt, const std::string &v, std::string *error) {
         long n = 0;
         if (!Number(opt, v, 0, 3600000, &n, error)) return false;
         s.o.settings.char_delay_ms = static_cast<int>(n);
         return true;
     }},
    {"--ack", "MS", "acknowledgement time-out",
     [](OptionState &s, const std::string &opt, const std::string &v, std::string *error) {
         long n = 0;
         if (!Number(opt, v, 0, 3600000, &n, error)) return false;
         s.o.settings.ack_timeout_ms = static_cast<int>(n);
         return true;
     }},
    {"--retries", "N", "attempts of a frame of its own",
     [](OptionState &s, const std::string &opt, const std::string &v, std::string *error) {
         long n = 0;
         if (!Number(opt, v, 1, 1000, &n, error)) return false;
         s.o.settings.retries = static_cast<int>(n);
         return true;
     }},
    {"--reaction", "MS", "time before the controller answers a command",
     [](OptionState &s, const std::string &opt, const std::string &v, std::string *error) {
         long n = 0;
         if (!Number(opt, v, 0, 3600000, &n, error)) return false;
         s.o.settings.reaction_ms = static_cast<int>(n);
         return true;
     }},
    {"--seed", "N", "seed of the generator behind probabilistic faults",
     [](OptionState &s, const std::string &, const std::string &v, std::string *error) {
         char *end = nullptr;
         unsigned long long n = std::strtoull(v.c_str(), &end, 0);
         if (v.empty() || *end != '\0') {
             *error = "--seed " + v + ": a number is needed";
             return false;
         }
         s.o.settings.seed = n;
         return true;
     }},
    {"--db", "N[:WORDS]", "a data block DB N of WORDS words (256 when left out); repeatable",
     [](OptionState &s, const std::string &, const std::string &v, std::string *error) {
         std::pair<int, int> block;
         if (!ParseBlockSpec(v, &block, error)) return false;
         s.db.push_back(block);
         return true;
     }},
    {"--dx", "N[:WORDS]", "an extended data block DX N; repeatable",
     [](OptionState &s, const std::string &, const std::string &v, std::string *error) {
         std::pair<int, int> block;
         if (!ParseBlockSpec(v, &block, error)) return false;
         s.dx.push_back(block);
         return true;
     }},
    {"--set", "LOC=V[,V...]", "initial memory contents (as the set command); repeatable",
     [](OptionState &s, const std::string &, const std::string &v, std::string *error) {
         Location loc;
         std::vector<uint32_t> values;
         if (!ParseSetting(v, &loc, &values, error)) return false;
         s.o.sets.push_back(v);
         return true;
     }},
    {"--fault", "RULE", "a fault rule (as the fault command); repeatable",
     [](OptionState &s, const std::string &, const std::string &v, std::string *error) {
         FaultRule rule;
         if (!ParseFaultRule(v, &rule, error)) return false;
         s.o.faults.push_back(v);
         return true;
     }},
    {"--log", "FILE", "append every printed line to FILE too",
     [](OptionState &s, const std::string &, const std::string &v, std::string *) {
         s.o.log_file = v;
         return true;
     }},
};
} // namespace

std::string Usage() {
    std::string text = "usage: s5sim (--pty LINK | --port PATH) [option]...\n";
    for (const Option &o : k_options)
        text += std::string("  ") + o.name + " " + o.value + "\n      " + o.meaning + "\n";
    text += "  --help\n      show this usage and end\n";
    return text;
}

std::string CommandUsage() {
    std::string text;
    for (const CommandInfo &c : Commands())
        text += std::string("  ") + c.name + (*c.arguments ? " " : "") + c.arguments + "\n      " +
                c.meaning + "\n";
    text += "Fault rules: NAME[:ARG][@CMD[,AREA[,FROM-TO]]][*N|%P], NAME one of:\n ";
    for (int k = 0; k <= static_cast<int>(FaultKind::ClosePort); ++k)
        text += std::string(" ") + FaultName(static_cast<FaultKind>(k));
    return text + "\n";
}

bool ParseOptions(int argc, char **argv, Options *options, std::string *error) {
    OptionState state;
    for (int i = 1; i < argc; ++i) {
        std::string opt = argv[i];
        const Option *found = nullptr;
        for (const Option &o : k_options)
            if (opt == o.name) found = &o;
        if (found == nullptr) {
            *error = "unknown option " + opt;
            return false;
        }
        if (i + 1 >= argc) {
            *error = opt + " needs a value";
            return false;
        }
        std::string v = argv[++i];
        if (!found->set(state, opt, v, error)) return false;
    }
    Options &o = state.o;
    if (o.pty_link.empty() == o.port_path.empty()) {
        *error = "exactly one of --pty LINK and --port PATH is needed";
        return false;
    }
    o.settings.db = state.db;
    o.settings.dx = state.dx;
    *options = o;
    return true;
}

const std::vector<CommandInfo> &Commands() {
    static const std::vector<CommandInfo> table = {
        {"set", "LOC=V[,V...]", "writes values into the controller's memory (LOC: D10.4, M3, ...)",
         [](Simulator &sim, const std::string &rest, bool *) -> std::string {
             Location loc;
             std::vector<uint32_t> values;
             std::string error;
             if (!ParseSetting(rest, &loc, &values, &error) ||
                 !sim.memory().Set(loc, values, &error))
                 return "error " + error + "\n";
             return "ok\n";
         }},
        {"get", "LOC [COUNT]", "prints \"value LOC V...\" of COUNT elements (1 when left out)",
         [](Simulator &sim, const std::string &rest, bool *) -> std::string {
             std::stringstream args(rest);
             std::string where, count_text, error;
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
         }},
        {"fault", "RULE", "adds a fault rule",
         [](Simulator &sim, const std::string &rest, bool *) -> std::string {
             std::string error;
             if (!sim.AddFault(rest, &error)) return "error " + error + "\n";
             return "ok\n";
         }},
        {"clear-faults", "", "removes every fault rule",
         [](Simulator &sim, const std::string &, bool *) -> std::string {
             sim.faults().Clear();
             return "ok\n";
         }},
        {"counters", "", "prints the link's counters",
         [](Simulator &sim, const std::string &, bool *) -> std::string {
             Counters c = sim.counters();
             return "counters commands " + std::to_string(c.commands) + " naks-received " +
                    std::to_string(c.naks_received) + " retransmissions " +
                    std::to_string(c.retransmissions) + " naks-sent " +
                    std::to_string(c.naks_sent) + " replies " + std::to_string(c.replies) +
                    " conflicts " + std::to_string(c.conflicts) + " faults " +
                    std::to_string(c.faults) + "\n";
         }},
        {"quit", "", "ends the simulator",
         [](Simulator &, const std::string &, bool *quit) -> std::string {
             *quit = true;
             return {};
         }},
    };
    return table;
}

std::string RunCommand(Simulator &sim, const std::string &raw, bool *quit) {
    std::string line = Trim(raw);
    std::string word = line.substr(0, line.find(' '));
    std::string rest = word.size() < line.size() ? Trim(line.substr(word.size())) : "";
    if (word.empty()) return {};
    std::string names;
    for (const CommandInfo &c : Commands()) {
        if (word == c.name) return c.run(sim, rest, quit);
        names += (names.empty() ? "" : ", ") + std::string(c.name);
    }
    return "error unknown command '" + word + "' (" + names + ")\n";
}

} // namespace s5sim
