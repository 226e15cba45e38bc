#include "ldf.h"
#include "lfile.h"
#include "lstore_mysql_internal.h"
#include "plat_ado.h"
#include "plat_error.h"
#include "srv.h"
#include "ts.h"

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <cstring>
#include <strings.h>

namespace {

// The item's value when `key` starts the string or an item; the first such item counts.
bool findItem(const char *text, const char *key, std::string *value) {
    size_t keyLength = strlen(key);
    const char *p = text;
    for (;;) {
        while (*p == ' ' || *p == '\t')
            ++p;
        if (strncasecmp(p, key, keyLength) == 0) {
            const char *v = p + keyLength;
            const char *end = strchr(v, ';');
            value->assign(v, end != nullptr ? static_cast<size_t>(end - v) : strlen(v));
            return true;
        }
        p = strchr(p, ';');
        if (p == nullptr) return false;
        ++p;
    }
}

// A value over its limit counts as absent.
bool takeItem(const char *text, const char *key, size_t limit, std::string *value) {
    std::string v;
    if (!findItem(text, key, &v) || v.size() > limit) return false;
    *value = v;
    return true;
}

int base64Value(char c) {
    if (c >= 'A' && c <= 'Z') return c - 'A';
    if (c >= 'a' && c <= 'z') return c - 'a' + 26;
    if (c >= '0' && c <= '9') return c - '0' + 52;
    if (c == '+') return 62;
    if (c == '/') return 63;
    return -1;
}

} // namespace

void lstore_ParseMySqlConnection(const char *connection, LogConnectionString *items) {
    *items = LogConnectionString{};
    const char *text = connection != nullptr ? connection : "";
    takeItem(text, "HOST=", 256, &items->host);
    items->hasUser = takeItem(text, "USER=", 100, &items->user);
    items->hasDb = takeItem(text, "DB=", 100, &items->db);
    std::string port;
    if (takeItem(text, "PORT=", 10, &port)) items->port = static_cast<unsigned>(atol(port.c_str()));
    std::string password;
    if (takeItem(text, "PASSWORD=", 100, &password))
        items->password = lstore_Base64Decode(password.c_str());
}

std::string lstore_Base64Decode(const char *text) {
    std::string out;
    uint32_t bits = 0;
    int count = 0;
    for (const char *p = text != nullptr ? text : ""; *p != '\0'; ++p) {
        int v = base64Value(*p);
        if (v < 0) break; // '=' or a character outside the alphabet
        bits = (bits << 6) | static_cast<uint32_t>(v);
        if (++count == 4) {
            out += static_cast<char>(bits >> 16);
            out += static_cast<char>(bits >> 8);
            out += static_cast<char>(bits);
            bits = 0;
            count = 0;
        }
    }
    if (count == 2) out += static_cast<char>(bits >> 4);
    if (count == 3) {
        out += static_cast<char>(bits >> 10);
        out += static_cast<char>(bits >> 2);
    }
    return out;
}

std::string lstore_Base64Encode(const std::string &bytes) {
    static const char alphabet[] =
        "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
    std::string out;
    size_t i = 0;
    for (; i + 2 < bytes.size(); i += 3) {
        uint32_t v = (uint32_t{static_cast<uint8_t>(bytes[i])} << 16) |
                     (uint32_t{static_cast<uint8_t>(bytes[i + 1])} << 8) |
                     static_cast<uint8_t>(bytes[i + 2]);
        for (int s = 18; s >= 0; s -= 6)
            out += alphabet[(v >> s) & 63];
    }
    if (i + 1 == bytes.size()) {
        uint32_t v = uint32_t{static_cast<uint8_t>(bytes[i])} << 16;
        out += alphabet[(v >> 18) & 63];
        out += alphabet[(v >> 12) & 63];
        out += "==";
    } else if (i + 2 == bytes.size()) {
        uint32_t v = (uint32_t{static_cast<uint8_t>(bytes[i])} << 16) |
                     (uint32_t{static_cast<uint8_t>(bytes[i + 1])} << 8);
        out += alphabet[(v >> 18) & 63];
        out += alphabet[(v >> 12) & 63];
        out += alphabet[(v >> 6) & 63];
        out += '=';
    }
    return out;
}

namespace lmy {

void SetError(char (&message)[31], char (&detail)[1000], const char *text, const char *more) {
    snprintf(message, sizeof message, "%.30s", text != nullptr ? text : "");
    snprintf(detail, sizeof detail, "%.999s", more != nullptr ? more : "");
}

MYSQL *Connect(const LogConnectionString &items, std::string *message, std::string *detail) {
    if (!items.hasUser) {
        *message = "NO USER IN CONNECTION STRING";
        detail->clear();
        return nullptr;
    }
    if (!items.hasDb) {
        *message = "NO DB IN CONNECTION STRING";
        detail->clear();
        return nullptr;
    }
    ado::InitMariaDbLibrary();
    MYSQL *conn = mysql_init(nullptr);
    if (conn == nullptr) {
        *message = "CAN'T OPEN DATABASE";
        *detail = "mysql_init() failed";
        return nullptr;
    }
    // The classes pass CP1252 bytes; MariaDB's latin1 is Windows-1252. An unreachable host
    // must not hold a caller for ever.
    unsigned int timeout = 300;
    mysql_options(conn, MYSQL_SET_CHARSET_NAME, "latin1");
    mysql_options(conn, MYSQL_OPT_CONNECT_TIMEOUT, &timeout);
    mysql_options(conn, MYSQL_OPT_READ_TIMEOUT, &timeout);
    mysql_options(conn, MYSQL_OPT_WRITE_TIMEOUT, &timeout);
    if (mysql_real_connect(conn, items.host.c_str(), items.user.c_str(), items.password.c_str(),
                           items.db.c_str(), items.port, nullptr, 0) == nullptr) {
        *message = "CAN'T CONNECT TO DATABASE";
        *detail = mysql_error(conn);
        mysql_close(conn);
        return nullptr;
    }
    return conn;
}

std::string Escape(MYSQL *conn, const std::string &text) {
    std::string out(text.size() * 2 + 1, '\0');
    unsigned long n = mysql_real_escape_string(conn, out.data(), text.data(), text.size());
    out.resize(n);
    return out;
}

void ToTime(uint32_t seconds, MYSQL_TIME *out) {
    struct tm t = ts_GmTime(seconds);
    memset(out, 0, sizeof *out);
    out->year = static_cast<unsigned>(t.tm_year + 1900);
    out->month = static_cast<unsigned>(t.tm_mon + 1);
    out->day = static_cast<unsigned>(t.tm_mday);
    out->hour = static_cast<unsigned>(t.tm_hour);
    out->minute = static_cast<unsigned>(t.tm_min);
    out->second = static_cast<unsigned>(t.tm_sec);
    out->time_type = MYSQL_TIMESTAMP_DATETIME;
}

uint32_t FromTime(const MYSQL_TIME &time) {
    struct tm t {};
    t.tm_year = static_cast<int>(time.year) - 1900;
    t.tm_mon = static_cast<int>(time.month) - 1;
    t.tm_mday = static_cast<int>(time.day);
    t.tm_hour = static_cast<int>(time.hour);
    t.tm_min = static_cast<int>(time.minute);
    t.tm_sec = static_cast<int>(time.second);
    int64_t s = lfile_NormalizeTm(&t);
    if (s < 0) return 0;
    if (s > int64_t{UINT32_MAX}) return UINT32_MAX;
    return static_cast<uint32_t>(s);
}

namespace {
MYSQL_BIND bind(enum_field_types type, void *buffer, char *isNull) {
    MYSQL_BIND b;
    memset(&b, 0, sizeof b);
    b.buffer_type = type;
    b.buffer = buffer;
    b.is_null = reinterpret_cast<my_bool *>(isNull);
    return b;
}
} // namespace

MYSQL_BIND BindNull() {
    return bind(MYSQL_TYPE_NULL, nullptr, nullptr);
}
MYSQL_BIND BindInt(int32_t *value, char *isNull) {
    return bind(MYSQL_TYPE_LONG, value, isNull);
}
MYSQL_BIND BindFloat(float *value, char *isNull) {
    return bind(MYSQL_TYPE_FLOAT, value, isNull);
}
MYSQL_BIND BindTime(MYSQL_TIME *value, char *isNull) {
    return bind(MYSQL_TYPE_DATETIME, value, isNull);
}
MYSQL_BIND BindText(char *buffer, unsigned long capacity, unsigned long *length, char *isNull) {
    MYSQL_BIND b = bind(MYSQL_TYPE_STRING, buffer, isNull);
    b.buffer_length = capacity;
    b.length = length;
    return b;
}

std::string Trimmed(const char *text, size_t limit) {
    std::string s(text, strnlen(text, limit));
    while (!s.empty() && s.back() == ' ')
        s.pop_back();
    return s;
}

int BlockChannels(const LogBlockDescriptor &block) {
    return ldf_BlockChannels(block);
}

int ChannelRecords(const LogHeader &header, const void *const *channelRecords, const char *server,
                   std::vector<std::vector<uint8_t>> *records, const char **message) {
    const char *recordServer =
        server != nullptr && *server != '\0' && !srv_IsLocal(server) ? server : nullptr;
    records->assign(static_cast<size_t>(std::min<int>(header.blockCount, 64)), {});
    for (size_t k = 0; k < records->size(); ++k) {
        const LogBlockDescriptor &block = header.blocks[k];
        int n = std::max(ldf_BlockChannels(block), 0);
        std::vector<uint8_t> &out = (*records)[k];
        out.assign(static_cast<size_t>(n) * LDF_CHANNEL_SIZE, 0);
        if (n == 0) continue;
        if (channelRecords != nullptr && channelRecords[k] != nullptr) {
            memcpy(out.data(), channelRecords[k], out.size());
        } else if (recordServer != nullptr) {
            if (lstore_ChannelsFromServer(recordServer, block, out.data()) != 0) {
                *message = "CAN'T GET CHANNEL CONFIGS";
                return -1;
            }
        } else if (lstore_ChannelsFromRuntime(block, out.data()) != 0) {
            *message = "CAN'T FIND CHANNEL CONFIG";
            return -1;
        }
    }
    return 0;
}

} // namespace lmy
