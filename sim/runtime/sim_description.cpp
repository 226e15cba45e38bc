#include "sim_runtime.h"

#include "pipe_server.h"
#include "sim_net.h"

#include <cctype>
#include <cstdlib>
#include <fstream>
#include <sstream>

namespace {
std::vector<std::string> words(const std::string &line) {
    std::string text = line.substr(0, line.find('#'));
    std::istringstream in(text);
    std::vector<std::string> w;
    for (std::string s; in >> s;)
        w.push_back(s);
    return w;
}

bool number(const std::string &text, long min, long max, int *out) {
    if (text.empty()) return false;
    char *end = nullptr;
    long v = strtol(text.c_str(), &end, 0);
    if (*end != '\0' || v < min || v > max) return false;
    *out = static_cast<int>(v);
    return true;
}

std::string upper(std::string s) {
    for (char &c : s)
        c = static_cast<char>(toupper(static_cast<unsigned char>(c)));
    return s;
}

bool tableId(const std::string &text, std::string *out) {
    if (text.empty() || text.size() > 2) return false;
    *out = upper(text);
    return true;
}

// Splits "key=value"; false when the word has no '='.
bool option(const std::string &word, std::string *key, std::string *value) {
    size_t eq = word.find('=');
    if (eq == std::string::npos) return false;
    *key = word.substr(0, eq);
    *value = word.substr(eq + 1);
    return true;
}

class Parser {
public:
    explicit Parser(SimDescription *d) : d_(d) {}

    // The statements: their words as the usage shows them, and the member that reads them.
    struct Statement {
        const char *name;
        const char *arguments;
        const char *meaning;
        std::string (Parser::*read)(const std::vector<std::string> &);
    };
    static const std::vector<Statement> &statements() {
        static const std::vector<Statement> table = {
            {"root", "<folder>",
             "installation folder: CURRENT_CONFIG, SAVED_VALUES, bin, ports, registry below it",
             &Parser::path},
            {"scanner", "<path>", "the scanner program, started with the device number",
             &Parser::path},
            {"bin", "<folder>", "KVT_BIN instead of <root>/bin", &Parser::path},
            {"layout", "new|old", "segment layout (old: short tables only)", &Parser::layout},
            {"device",
             "<type> <number> <name> <folder> [ai=XX] [di=XX] [ao=XX] [do=XX] [ci=XX] [own=XX]",
             "a device slot and the table ids of its channel kinds", &Parser::device},
            {"table", "<id> <4|8> <channels> [runtime]",
             "a channel table: 4 bytes per channel digital, 8 analogue; runtime records behind",
             &Parser::table},
            {"process", "<name> [id=XX] [kindflag=n] [enabled=0|1] [attribute=n]",
             "a data process (ALARM and DERIVED receive alarm messages and notices)",
             &Parser::process},
            {"logger",
             "<type> <name> [active=0|1] [state=N] [rtlog=N] [folder=<path>] [conn=<text>]",
             "a logger, whose codes are received; folder= and conn= fill its second-table entry "
             "(conn= last: the rest of the line)",
             nullptr},
            {"loggers-long", "",
             "\"dm_loggers\" also holds the second table (1528 bytes per logger)",
             &Parser::loggersLong},
            {"errors", "<count>", "entries of the system error table", &Parser::errors},
            {"error", "<kind> <name> [<text>]",
             "the next entry of the system error table (the text is the rest of the line)",
             nullptr},
            {"reply", "<request> <text>|raw <hex>|close|big <n>|empty|stall|...",
             "the answer of every endpoint to a request (the rest of the line; sim_replies.h)",
             nullptr},
            {"tls", "<addr:port>", "the TLS request socket (port 0: any free port)",
             &Parser::endpoint},
            {"soap", "<addr:port>", "the SOAP service over HTTP", &Parser::endpoint},
            {"soap-tls", "<addr:port>", "the SOAP service over HTTPS", &Parser::endpoint},
            {"auth", "<user:password>", "the SOAP service's Basic credential", &Parser::auth},
            {"files", "<folder>",
             "the remote file service's folder (the server's KVT_CURRENT_CONFIG)", &Parser::file},
            {"cert", "<file>", "the endpoints' certificate (PEM); without, a self-signed one",
             &Parser::file},
            {"key", "<file>", "the certificate's key (PEM)", &Parser::file},
            {"cert-out", "<file>", "where the certificate in use is written (PEM)", &Parser::file},
        };
        return table;
    }

    std::string statement(const std::vector<std::string> &w) {
        for (const Statement &s : statements())
            if (w[0] == s.name && s.read != nullptr) return (this->*s.read)(w);
        return "unknown statement '" + w[0] + "'";
    }

private:
    std::string path(const std::vector<std::string> &w) {
        const std::string &verb = w[0];
        if (w.size() != 2) return verb + " needs one folder or path";
        (verb == "root" ? d_->root : verb == "scanner" ? d_->scanner : d_->bin) = w[1];
        return "";
    }

    std::string endpoint(const std::vector<std::string> &w) {
        const std::string &verb = w[0];
        std::string address;
        int port = 0;
        if (w.size() != 2 || !sim_ParseAddress(w[1], &address, &port))
            return verb + " needs ADDR:PORT";
        (verb == "tls" ? d_->tls : verb == "soap" ? d_->soap : d_->soapTls) = w[1];
        return "";
    }

    std::string auth(const std::vector<std::string> &w) {
        size_t colon = w.size() == 2 ? w[1].find(':') : std::string::npos;
        if (colon == std::string::npos) return "auth needs USER:PASSWORD";
        d_->user = w[1].substr(0, colon);
        d_->password = w[1].substr(colon + 1);
        return "";
    }

    std::string file(const std::vector<std::string> &w) {
        const std::string &verb = w[0];
        if (w.size() != 2) return verb + " needs one path";
        (verb == "files"  ? d_->files
         : verb == "cert" ? d_->certFile
         : verb == "key"  ? d_->keyFile
                          : d_->certOut) = w[1];
        return "";
    }

    std::string layout(const std::vector<std::string> &w) {
        if (w.size() != 2 || (w[1] != "new" && w[1] != "old")) return "layout is new or old";
        d_->oldLayout = w[1] == "old";
        return "";
    }

    std::string loggersLong(const std::vector<std::string> &w) {
        if (w.size() != 1) return "loggers-long takes no argument";
        d_->loggersLong = true;
        return "";
    }

    std::string errors(const std::vector<std::string> &w) {
        if (w.size() != 2 || !number(w[1], 0, 10000, &d_->errors)) return "errors needs a count";
        return "";
    }

    std::string device(const std::vector<std::string> &w) {
        SimDeviceDesc dev;
        if (w.size() < 5) return "device <type> <number> <name> <folder> [ai=XX] ...";
        dev.type = w[1];
        if (dev.type.size() > 8) return "device type has more than 8 characters";
        if (!number(w[2], 1, 65535, &dev.number)) return "device number must be 1..65535";
        dev.name = w[3];
        dev.folder = w[4];
        if (dev.name.size() > 24 || dev.folder.size() > 11)
            return "device name (24) or folder (11) too long";
        static const char *const keys[] = {"ai", "di", "ao", "do", "ci", "own"};
        for (size_t i = 5; i < w.size(); ++i) {
            std::string key, value;
            if (!option(w[i], &key, &value)) return "expected key=value, got '" + w[i] + "'";
            bool known = false;
            for (int k = 0; k < 6; ++k)
                if (key == keys[k]) {
                    if (!tableId(value, &dev.ids[k]))
                        return "table id '" + value + "' must have 1 or 2 characters";
                    known = true;
                }
            if (!known) return "unknown device option '" + key + "'";
        }
        for (const SimDeviceDesc &other : d_->devices)
            if (other.number == dev.number) return "device number " + w[2] + " twice";
        d_->devices.push_back(dev);
        return "";
    }

    std::string table(const std::vector<std::string> &w) {
        SimTableDesc t;
        if (w.size() < 4 || w.size() > 5 || !tableId(w[1], &t.id))
            return "table <id> <4|8> <channels> [runtime]";
        if (!number(w[2], 4, 8, &t.bytesPerChannel) ||
            (t.bytesPerChannel != 4 && t.bytesPerChannel != 8))
            return "bytes per channel must be 4 or 8";
        if (!number(w[3], 0, 65535, &t.channels)) return "channel count must be 0..65535";
        if (w.size() == 5) {
            if (w[4] != "runtime") return "unknown table option '" + w[4] + "'";
            t.runtimeRecords = true;
        }
        for (const SimTableDesc &other : d_->tables)
            if (other.id == t.id) return "table " + t.id + " twice";
        d_->tables.push_back(t);
        return "";
    }

    std::string process(const std::vector<std::string> &w) {
        SimProcessDesc p;
        if (w.size() < 2 || w[1].size() > 8)
            return "process <name of at most 8 characters> [id=XX] ...";
        p.name = upper(w[1]);
        for (size_t i = 2; i < w.size(); ++i) {
            std::string key, value;
            if (!option(w[i], &key, &value)) return "expected key=value, got '" + w[i] + "'";
            bool ok = key == "id"          ? tableId(value, &p.id)
                      : key == "kindflag"  ? number(value, 0, 255, &p.kindFlag)
                      : key == "enabled"   ? number(value, 0, 1, &p.enabled)
                      : key == "attribute" ? number(value, 0, 255, &p.attribute)
                                           : false;
            if (!ok) return "bad process option '" + w[i] + "'";
        }
        d_->processes.push_back(p);
        return "";
    }

public:
    // conn= is cut from the line before the words are split, since it may hold blanks.
    std::string logger(const std::vector<std::string> &w, const std::string &connection,
                       bool hasConnection) {
        static const char *const k_usage = "logger <type> <name> [active=0|1] [state=N] "
                                           "[rtlog=N] [folder=<path>] [conn=<text>]";
        SimLoggerDesc l;
        if (w.size() < 3 || w[1].size() > 8 || w[2].size() > 130) return k_usage;
        l.type = w[1];
        l.name = w[2];
        for (size_t i = 3; i < w.size(); ++i) {
            std::string key, value;
            bool ok = option(w[i], &key, &value);
            if (ok && key == "active") {
                ok = number(value, 0, 1, &l.active);
            } else if (ok && key == "state") {
                ok = number(value, 0, 255, &l.state);
            } else if (ok && key == "rtlog") {
                ok = number(value, INT32_MIN, INT32_MAX, &l.rtlog);
            } else if (ok && key == "folder") {
                ok = !value.empty() && value.size() <= 259;
                l.folder = value;
            } else {
                ok = false;
            }
            if (!ok) return "bad logger option '" + w[i] + "'";
        }
        if (hasConnection) {
            if (connection.size() > 1267) return "conn= text longer than 1267 characters";
            l.connection = connection;
        }
        if ((!l.folder.empty() || hasConnection) && !d_->loggersLong)
            return "folder= and conn= need loggers-long first";
        d_->loggers.push_back(l);
        return "";
    }

private:
    SimDescription *d_;
};
// "reply <request prefix> <answer>": the answer is the rest of the line as written, so that it
// may hold blanks and commas.
std::string replyStatement(const std::string &line, SimDescription *d) {
    size_t at = line.find("reply") + 5;
    size_t from = line.find_first_not_of(" \t", at);
    std::string rest = from == std::string::npos ? "" : line.substr(from);
    while (!rest.empty() && (rest.back() == '\r' || rest.back() == ' ' || rest.back() == '\t'))
        rest.pop_back();
    SimReplyScript check;
    if (rest.empty() || !check.add(rest)) return "reply <request> <text|raw|close|big|empty|...>";
    d->replies.push_back(rest);
    return "";
}

// "logger ... conn=<text>": the text is the rest of the line as written (no comment is cut
// from it), so that connection strings keep their blanks.
std::string loggerStatement(const std::string &line, Parser &parser) {
    size_t at = line.find(" conn=");
    if (at == std::string::npos) at = line.find("\tconn=");
    if (at == std::string::npos) return parser.logger(words(line), "", false);
    std::string connection = line.substr(at + 6);
    while (!connection.empty() && connection.back() == '\r')
        connection.pop_back();
    return parser.logger(words(line.substr(0, at)), connection, true);
}
// "error <kind> <name> [<text>]": the text is the rest of the line, blanks included.
std::string errorStatement(const std::string &line, const std::vector<std::string> &w,
                           SimDescription *d) {
    static const char *const k_usage = "error <kind> <name> [<text>]";
    if (w.size() < 3) return k_usage;
    SimErrorDesc e;
    char *end = nullptr;
    long kind = strtol(w[1].c_str(), &end, 10);
    if (end == w[1].c_str() || *end != '\0' || kind < 0 || kind > 255) return k_usage;
    e.kind = static_cast<int>(kind);
    e.name = w[2];
    if (e.name.size() > 129) return "error name longer than 129 characters";
    // Past the verb, the kind and the name.
    size_t from = 0;
    for (int word = 0; word < 3 && from != std::string::npos; ++word) {
        from = line.find_first_not_of(" \t", from);
        if (from != std::string::npos) from = line.find_first_of(" \t", from);
    }
    if (from != std::string::npos) from = line.find_first_not_of(" \t", from);
    std::string rest = from == std::string::npos ? "" : line.substr(from);
    while (!rest.empty() && (rest.back() == '\r' || rest.back() == ' ' || rest.back() == '\t'))
        rest.pop_back();
    if (rest.size() > 254) return "error text longer than 254 characters";
    e.text = rest;
    d->errorEntries.push_back(e);
    return "";
}
} // namespace

int sim_ParseDescription(const std::string &text, SimDescription *out, std::string *error) {
    SimDescription d;
    Parser parser(&d);
    std::istringstream in(text);
    int lineNumber = 0;
    for (std::string line; std::getline(in, line);) {
        ++lineNumber;
        std::vector<std::string> w = words(line);
        if (w.empty()) continue;
        std::string problem;
        if (w[0] == "reply") {
            problem = replyStatement(line, &d);
        } else if (w[0] == "logger") {
            problem = loggerStatement(line, parser);
        } else if (w[0] == "error") {
            problem = errorStatement(line, w, &d);
        } else {
            problem = parser.statement(w);
        }
        if (!problem.empty()) {
            if (error != nullptr) *error = "line " + std::to_string(lineNumber) + ": " + problem;
            return -1;
        }
    }
    *out = d;
    return 0;
}

int sim_LoadDescription(const std::string &path, SimDescription *out, std::string *error) {
    std::ifstream in(path);
    if (!in) {
        if (error != nullptr) *error = "cannot read " + path;
        return -1;
    }
    std::stringstream text;
    text << in.rdbuf();
    return sim_ParseDescription(text.str(), out, error);
}

std::string sim_DescriptionUsage() {
    std::string text;
    for (const auto &s : Parser::statements())
        text += std::string("  ") + s.name + (*s.arguments != '\0' ? " " : "") + s.arguments +
                "\n      " + s.meaning + "\n";
    return text;
}

std::string sim_TableId(const std::string &id) {
    return upper(id.substr(0, 2));
}
