// Variants, text and date conversions, connection strings and the SQL rewrites.
#include "ado_internal.h"

#include <cmath>
#include <cstdio>
#include <cstring>
#include <regex>

namespace ado {

Variant Variant::Null() {
    Variant v;
    v.vt = VT_NULL;
    return v;
}
Variant Variant::I2(int16_t x) {
    Variant v;
    v.vt = VT_I2;
    v.i = x;
    return v;
}
Variant Variant::I4(int32_t x) {
    Variant v;
    v.vt = VT_I4;
    v.i = x;
    return v;
}
Variant Variant::I8(int64_t x) {
    Variant v;
    v.vt = VT_I8;
    v.i = x;
    return v;
}
Variant Variant::R4(float x) {
    Variant v;
    v.vt = VT_R4;
    v.d = x;
    return v;
}
Variant Variant::R8(double x) {
    Variant v;
    v.vt = VT_R8;
    v.d = x;
    return v;
}
Variant Variant::Date(double x) {
    Variant v;
    v.vt = VT_DATE;
    v.d = x;
    return v;
}
Variant Variant::Str(const std::u16string &x) {
    Variant v;
    v.vt = VT_BSTR;
    v.s = x;
    return v;
}
Variant Variant::Utf8(const std::string &x) {
    return Str(FromUtf8(x));
}
Variant Variant::Bool(bool x) {
    Variant v;
    v.vt = VT_BOOL;
    v.i = x ? -1 : 0;
    return v;
}
Variant Variant::Missing() {
    Variant v;
    v.vt = VT_ERROR;
    v.i = static_cast<int32_t>(0x80020004);
    return v;
}
Variant Variant::Bytes(std::vector<uint8_t> x) {
    Variant v;
    v.vt = VT_BYTES;
    v.bytes = std::move(x);
    return v;
}

bool Variant::IsNumber() const {
    switch (vt) {
    case VT_I2:
    case VT_I4:
    case VT_I8:
    case VT_R4:
    case VT_R8:
    case VT_BOOL:
        return true;
    default:
        return false;
    }
}

double Variant::AsDouble() const {
    switch (vt) {
    case VT_I2:
    case VT_I4:
    case VT_I8:
    case VT_BOOL:
        return static_cast<double>(i);
    case VT_R4:
    case VT_R8:
    case VT_DATE:
        return d;
    case VT_BSTR:
        return std::strtod(ToUtf8(s).c_str(), nullptr);
    default:
        return 0.0;
    }
}

int64_t Variant::AsInt() const {
    switch (vt) {
    case VT_I2:
    case VT_I4:
    case VT_I8:
    case VT_BOOL:
        return i;
    case VT_R4:
    case VT_R8:
    case VT_DATE:
        return static_cast<int64_t>(std::llround(d));
    case VT_BSTR:
        return std::strtoll(ToUtf8(s).c_str(), nullptr, 10);
    default:
        return 0;
    }
}

std::string Variant::AsUtf8() const {
    char buf[64];
    switch (vt) {
    case VT_BSTR:
        return ToUtf8(s);
    case VT_I2:
    case VT_I4:
    case VT_I8:
    case VT_BOOL:
        return std::to_string(i);
    case VT_R4:
        std::snprintf(buf, sizeof buf, "%.9g", d);
        return buf;
    case VT_R8:
        std::snprintf(buf, sizeof buf, "%.17g", d);
        return buf;
    case VT_DATE:
        return DateText(d);
    default:
        return "";
    }
}

bool operator==(const Variant &a, const Variant &b) {
    if (a.vt != b.vt) return false;
    switch (a.vt) {
    case VT_EMPTY:
    case VT_NULL:
        return true;
    case VT_R4:
    case VT_R8:
    case VT_DATE:
        return a.d == b.d;
    case VT_BSTR:
        return a.s == b.s;
    case VT_BYTES:
        return a.bytes == b.bytes;
    case VT_VARIANTS:
        return a.items == b.items;
    default:
        return a.i == b.i;
    }
}

std::string ToUtf8(const std::u16string &text) {
    std::string out;
    out.reserve(text.size());
    for (size_t k = 0; k < text.size(); ++k) {
        uint32_t c = text[k];
        if (c >= 0xD800 && c <= 0xDBFF && k + 1 < text.size() && text[k + 1] >= 0xDC00 &&
            text[k + 1] <= 0xDFFF) {
            c = 0x10000 + ((c - 0xD800) << 10) + (text[k + 1] - 0xDC00);
            ++k;
        } else if (c >= 0xD800 && c <= 0xDFFF) {
            c = 0xFFFD;
        }
        if (c < 0x80) {
            out += static_cast<char>(c);
        } else if (c < 0x800) {
            out += static_cast<char>(0xC0 | (c >> 6));
            out += static_cast<char>(0x80 | (c & 0x3F));
        } else if (c < 0x10000) {
            out += static_cast<char>(0xE0 | (c >> 12));
            out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
            out += static_cast<char>(0x80 | (c & 0x3F));
        } else {
            out += static_cast<char>(0xF0 | (c >> 18));
            out += static_cast<char>(0x80 | ((c >> 12) & 0x3F));
            out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
            out += static_cast<char>(0x80 | (c & 0x3F));
        }
    }
    return out;
}

std::u16string FromUtf8(const std::string &text) {
    std::u16string out;
    out.reserve(text.size());
    const auto *p = reinterpret_cast<const unsigned char *>(text.data());
    size_t n = text.size();
    for (size_t k = 0; k < n;) {
        uint32_t c = p[k];
        int extra = c < 0x80             ? 0
                    : (c & 0xE0) == 0xC0 ? 1
                    : (c & 0xF0) == 0xE0 ? 2
                    : (c & 0xF8) == 0xF0 ? 3
                                         : -1;
        if (extra < 0 || k + static_cast<size_t>(extra) >= n) {
            out += u'\xFFFD';
            ++k;
            continue;
        }
        uint32_t cp = extra == 0 ? c : c & (0x3F >> extra);
        bool ok = true;
        for (int j = 1; j <= extra; ++j) {
            if ((p[k + j] & 0xC0) != 0x80) {
                ok = false;
                break;
            }
            cp = (cp << 6) | (p[k + j] & 0x3F);
        }
        if (!ok) {
            out += u'\xFFFD';
            ++k;
            continue;
        }
        k += 1 + extra;
        if (cp >= 0x10000) {
            cp -= 0x10000;
            out += static_cast<char16_t>(0xD800 + (cp >> 10));
            out += static_cast<char16_t>(0xDC00 + (cp & 0x3FF));
        } else {
            out += static_cast<char16_t>(cp);
        }
    }
    return out;
}

namespace {

// Days from 1970-01-01 of a civil date (proleptic Gregorian).
int64_t daysFromCivil(int64_t y, int m, int d) {
    y -= m <= 2;
    const int64_t era = (y >= 0 ? y : y - 399) / 400;
    const int64_t yoe = y - era * 400;
    const int64_t doy = (153 * (m + (m > 2 ? -3 : 9)) + 2) / 5 + d - 1;
    const int64_t doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
    return era * 146097 + doe - 719468;
}

void civilFromDays(int64_t z, int *y, int *m, int *d) {
    z += 719468;
    const int64_t era = (z >= 0 ? z : z - 146096) / 146097;
    const int64_t doe = z - era * 146097;
    const int64_t yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
    const int64_t doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
    const int64_t mp = (5 * doy + 2) / 153;
    *d = static_cast<int>(doy - (153 * mp + 2) / 5 + 1);
    *m = static_cast<int>(mp < 10 ? mp + 3 : mp - 9);
    *y = static_cast<int>(yoe + era * 400 + (*m <= 2));
}

// 1899-12-30 counted from 1970-01-01.
constexpr int64_t kOleEpochDays = -25569;

} // namespace

double OleFromSeconds(int64_t s) {
    s -= kOleEpochDays * 86400;
    int64_t days = s >= 0 ? s / 86400 : -((-s + 86399) / 86400);
    int64_t rest = s - days * 86400;
    double frac = static_cast<double>(rest) / 86400.0;
    return days >= 0 ? static_cast<double>(days) + frac : static_cast<double>(days) - frac;
}

int64_t SecondsFromOle(double ole) {
    double whole = std::trunc(ole);
    double frac = std::fabs(ole - whole);
    int64_t secs = static_cast<int64_t>(whole) * 86400 + std::llround(frac * 86400.0);
    return secs + kOleEpochDays * 86400;
}

double OleFromParts(int year, int month, int day, int hour, int minute, int second) {
    int64_t days = daysFromCivil(year, month, day);
    return OleFromSeconds(days * 86400 + hour * 3600 + minute * 60 + second);
}

DateParts PartsFromOle(double ole) {
    int64_t s = SecondsFromOle(ole);
    int64_t days = s >= 0 ? s / 86400 : -((-s + 86399) / 86400);
    int64_t rest = s - days * 86400;
    DateParts p{};
    civilFromDays(days, &p.year, &p.month, &p.day);
    p.hour = static_cast<int>(rest / 3600);
    p.minute = static_cast<int>(rest / 60 % 60);
    p.second = static_cast<int>(rest % 60);
    return p;
}

std::string DateText(double ole) {
    DateParts p = PartsFromOle(ole);
    char buf[48];
    std::snprintf(buf, sizeof buf, "%04d-%02d-%02d %02d:%02d:%02d", p.year, p.month, p.day, p.hour,
                  p.minute, p.second);
    return buf;
}

bool ParseDateText(const std::string &text, double *ole) {
    int y, mo, d, h = 0, mi = 0, s = 0, used = 0;
    if (text.size() == 10) {
        if (std::sscanf(text.c_str(), "%4d-%2d-%2d%n", &y, &mo, &d, &used) != 3 || used != 10)
            return false;
    } else if (text.size() == 19 || (text.size() > 20 && text[19] == '.')) {
        if (std::sscanf(text.c_str(), "%4d-%2d-%2d %2d:%2d:%2d%n", &y, &mo, &d, &h, &mi, &s,
                        &used) != 6 ||
            used != 19)
            return false;
        for (size_t k = 20; k < text.size(); ++k)
            if (text[k] < '0' || text[k] > '9') return false;
    } else {
        return false;
    }
    if (text[4] != '-' || text[7] != '-') return false;
    if (mo < 1 || mo > 12 || d < 1 || d > 31 || h > 23 || mi > 59 || s > 60) return false;
    double frac = 0.0;
    if (text.size() > 20) frac = std::strtod(text.c_str() + 19, nullptr);
    int64_t secs = daysFromCivil(y, mo, d) * 86400 + h * 3600 + mi * 60 + s +
                   static_cast<int64_t>(std::llround(frac));
    *ole = OleFromSeconds(secs);
    return true;
}

std::string Lower(const std::string &text) {
    std::string out = text;
    for (char &c : out)
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    return out;
}

namespace {
std::string trim(const std::string &t) {
    size_t a = t.find_first_not_of(" \t\r\n");
    if (a == std::string::npos) return "";
    size_t b = t.find_last_not_of(" \t\r\n");
    return t.substr(a, b - a + 1);
}
} // namespace

std::map<std::string, std::string> ParseConnectionString(const std::string &text) {
    std::map<std::string, std::string> items;
    size_t k = 0;
    while (k < text.size()) {
        size_t eq = text.find('=', k);
        size_t semi = text.find(';', k);
        if (eq == std::string::npos || (semi != std::string::npos && semi < eq)) {
            if (semi == std::string::npos) break;
            k = semi + 1;
            continue;
        }
        std::string key = Lower(trim(text.substr(k, eq - k)));
        size_t v = eq + 1;
        while (v < text.size() && (text[v] == ' ' || text[v] == '\t'))
            ++v;
        std::string value;
        if (v < text.size() && (text[v] == '"' || text[v] == '\'' || text[v] == '{')) {
            char close = text[v] == '{' ? '}' : text[v];
            size_t end = text.find(close, v + 1);
            if (end == std::string::npos) end = text.size();
            value = text.substr(v + 1, end - v - 1);
            k = text.find(';', end);
            k = k == std::string::npos ? text.size() : k + 1;
        } else {
            size_t end = text.find(';', v);
            if (end == std::string::npos) end = text.size();
            value = trim(text.substr(v, end - v));
            k = end + 1;
        }
        if (!key.empty()) items[key] = value;
    }
    return items;
}

std::string ConnectionProps::Get(const std::string &key) const {
    auto it = items.find(key);
    return it == items.end() ? std::string() : it->second;
}

std::vector<size_t> ParameterMarks(const std::string &sql) {
    std::vector<size_t> marks;
    char quote = 0;
    for (size_t k = 0; k < sql.size(); ++k) {
        char c = sql[k];
        if (quote) {
            if (c == quote) quote = 0;
        } else if (c == '\'' || c == '"' || c == '`') {
            quote = c;
        } else if (c == '[') {
            quote = ']';
        } else if (c == '?') {
            marks.push_back(k);
        }
    }
    return marks;
}

namespace {

// Copies `sql`, calling `at` at each position outside quotes; `at` may consume text by
// returning the number of characters it replaced (0 to copy one character).
template <typename F>
std::string outsideQuotes(const std::string &sql, F at) {
    std::string out;
    size_t k = 0;
    while (k < sql.size()) {
        char c = sql[k];
        if (c == '\'' || c == '"') {
            size_t end = k + 1;
            while (end < sql.size()) {
                if (sql[end] == c) {
                    if (end + 1 < sql.size() && sql[end + 1] == c) {
                        end += 2;
                        continue;
                    }
                    break;
                }
                ++end;
            }
            end = std::min(end + 1, sql.size());
            out.append(sql, k, end - k);
            k = end;
            continue;
        }
        size_t used = at(sql, k, out);
        if (used == 0) {
            out += c;
            ++k;
        } else {
            k += used;
        }
    }
    return out;
}

bool hasOutsideQuotes(const std::string &sql, const std::regex &re) {
    bool found = false;
    outsideQuotes(sql, [&](const std::string &s, size_t k, std::string &) -> size_t {
        if (!found && (k == 0 || !std::isalnum(static_cast<unsigned char>(s[k - 1])))) {
            std::smatch m;
            auto begin = s.begin() + static_cast<std::ptrdiff_t>(k);
            if (std::regex_search(begin, s.end(), m, re, std::regex_constants::match_continuous))
                found = true;
        }
        return 0;
    });
    return found;
}

std::string dateLiterals(const std::string &sql) {
    static const std::regex ts(
        R"(\{\s*[tT][sS]\s*'(\d{4})[-/](\d{1,2})[-/](\d{1,2})\s+(\d{1,2}):(\d{1,2}):(\d{1,2})(\.\d+)?'\s*\})");
    static const std::regex jet(R"(#(\d{1,2})/(\d{1,2})/(\d{4})\s+(\d{1,2}):(\d{1,2}):(\d{1,2})#)");
    return outsideQuotes(sql, [](const std::string &s, size_t k, std::string &out) -> size_t {
        if (s[k] != '{' && s[k] != '#') return 0;
        std::smatch m;
        auto begin = s.begin() + static_cast<std::ptrdiff_t>(k);
        const std::regex &re = s[k] == '{' ? ts : jet;
        if (!std::regex_search(begin, s.end(), m, re, std::regex_constants::match_continuous))
            return 0;
        int y, mo, d;
        if (s[k] == '{') {
            y = std::stoi(m[1]);
            mo = std::stoi(m[2]);
            d = std::stoi(m[3]);
        } else {
            mo = std::stoi(m[1]);
            d = std::stoi(m[2]);
            y = std::stoi(m[3]);
        }
        char buf[64];
        std::snprintf(buf, sizeof buf, "'%04d-%02d-%02d %02d:%02d:%02d", y, mo, d, std::stoi(m[4]),
                      std::stoi(m[5]), std::stoi(m[6]));
        out += buf;
        if (s[k] == '{' && m[7].matched) {
            std::string frac = m[7].str();
            bool nonzero = frac.find_first_not_of(".0") != std::string::npos;
            if (nonzero) out += (frac + "000").substr(0, 4);
        }
        out += '\'';
        return static_cast<size_t>(m.length(0));
    });
}

} // namespace

std::string RewriteTop(const std::string &sql) {
    static const std::regex top(
        R"(^(\s*)[sS][eE][lL][eE][cC][tT]\s+[tT][oO][pP]\s+(\d+)\s+([\s\S]*?)(\s*;\s*)?$)");
    static const std::regex limit(R"([lL][iI][mM][iI][tT]\b)");
    std::smatch m;
    if (!std::regex_match(sql, m, top)) return sql;
    if (hasOutsideQuotes(sql, limit)) return sql;
    return m[1].str() + "SELECT " + m[3].str() + " LIMIT " + m[2].str() +
           (m[4].matched ? m[4].str() : std::string());
}

std::string RewriteForSqlite(const std::string &sql) {
    std::string out = RewriteTop(dateLiterals(sql));
    static const std::regex index(
        R"(^(\s*CREATE\s+(?:UNIQUE\s+)?INDEX\s+)([A-Za-z_][A-Za-z0-9_$]*)(\s+ON\s+)([A-Za-z_][A-Za-z0-9_$]*)([\s\S]*)$)",
        std::regex::icase);
    static const std::regex pk(
        R"(^\s*ALTER\s+TABLE\s+([A-Za-z_][A-Za-z0-9_$]*)\s+ADD\s+CONSTRAINT\s+([A-Za-z_][A-Za-z0-9_$]*)\s+PRIMARY\s+KEY\s*(\([^)]*\))\s*;?\s*$)",
        std::regex::icase);
    std::smatch m;
    if (std::regex_match(out, m, index))
        return m[1].str() + "\"" + m[4].str() + "_" + m[2].str() + "\"" + m[3].str() + m[4].str() +
               m[5].str();
    if (std::regex_match(out, m, pk))
        return "CREATE UNIQUE INDEX \"" + m[1].str() + "_" + m[2].str() + "\" ON " + m[1].str() +
               " " + m[3].str();
    return out;
}

} // namespace ado
