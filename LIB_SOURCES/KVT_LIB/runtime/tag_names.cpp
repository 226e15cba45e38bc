#include "tag.h"

#include <cstdio>
#include <cstring>
#include <vector>

namespace {
constexpr size_t NAME_MAX_LENGTH = 47;
constexpr size_t SHORT_TAG_WIDTH = 15;

bool beginsResub(const char *typeName) {
    static const char k_resub[] = "resub";
    for (size_t i = 0; i < 5; ++i) {
        unsigned char c = static_cast<unsigned char>(typeName[i]);
        if (c >= 'A' && c <= 'Z') c = static_cast<unsigned char>(c - 'A' + 'a');
        if (c != static_cast<unsigned char>(k_resub[i]))
            return false; // also stops at the end of a shorter name
    }
    return true;
}

std::string format(const char *fmt, const std::string &a, const std::string &b) {
    char buf[64];
    std::snprintf(buf, sizeof buf, fmt, a.c_str(), b.c_str());
    return buf;
}
} // namespace

std::string tag_ShortName(const char *typeName, const char *name) {
    std::string n = name != nullptr ? name : "";
    if (n.size() <= SHORT_TAG_WIDTH) return n;

    std::vector<size_t> underscores;
    for (size_t i = 0; i < n.size() && underscores.size() < 5; ++i)
        if (n[i] == '_') underscores.push_back(i);
    if (typeName == nullptr || !beginsResub(typeName) || underscores.size() < 4)
        return n.substr(0, NAME_MAX_LENGTH);

    auto field = [&](size_t k) { // the text after underscore k up to the next one
        size_t from = underscores[k] + 1;
        size_t to = k + 1 < underscores.size() ? underscores[k + 1] : n.size();
        return n.substr(from, to - from);
    };
    std::string b = field(0), c = field(1), d = field(2), e = field(3);

    std::string result = format("%-1.2s_%1.12s", b, c);
    result.resize(SHORT_TAG_WIDTH, ' ');
    bool more = underscores.size() == 5 && underscores[4] + 1 < n.size();
    if (more) {
        char buf[64];
        std::snprintf(buf, sizeof buf, "_%-1.14s_%-1.14s_%c", d.c_str(), e.c_str(),
                      n[underscores[4] + 1]);
        result += buf;
    } else {
        result += format("_%-1.15s_%-1.15s", d, e);
    }
    return result.substr(0, NAME_MAX_LENGTH);
}

std::string tag_ExpName(const char *typeName, const char *name) {
    std::string result = "EXP " + tag_ShortName(typeName, name);
    return result.substr(0, NAME_MAX_LENGTH);
}
