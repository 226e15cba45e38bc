// Connector/C helpers shared by the MariaDB store and collection: connecting, one owner per
// prepared statement, escaping, the date-time fields of the system's times, and the channel
// records of a new run. Only the two MariaDB classes and their test programs include this header.
#pragma once

#include "lstore.h"
#include "lstore_mysql.h"

#include <mysql.h>

#include <cstdint>
#include <string>
#include <vector>

namespace lmy {

// Copies a message cut to 30 characters and a detail cut to 999.
void SetError(char (&message)[31], char (&detail)[1000], const char *text, const char *more);

// A connected handle for the items, or null with the message and detail set. The handle is
// closed on every failure after mysql_init.
MYSQL *Connect(const LogConnectionString &items, std::string *message, std::string *detail);

// The text as a SQL string body on the open connection.
std::string Escape(MYSQL *conn, const std::string &text);

// Date-time fields of 32-bit seconds read unsigned, and back; dates before 1970 give 0, after
// 2106-02-07 06:28:15 give 2^32 - 1.
void ToTime(uint32_t seconds, MYSQL_TIME *out);
uint32_t FromTime(const MYSQL_TIME &time);

// One prepared statement, closed when the owner goes.
class Stmt {
public:
    explicit Stmt(MYSQL *conn) : h(mysql_stmt_init(conn)) {}
    ~Stmt() {
        if (h) mysql_stmt_close(h);
    }
    Stmt(const Stmt &) = delete;
    Stmt &operator=(const Stmt &) = delete;
    // Closes now; false when the connector reports a failure.
    bool Close() {
        MYSQL_STMT *s = h;
        h = nullptr;
        return s == nullptr || mysql_stmt_close(s) == 0;
    }
    MYSQL_STMT *h;
};

// Binds of every kind point at buffers of their own: record slots are unaligned.
MYSQL_BIND BindNull();
MYSQL_BIND BindInt(int32_t *value, char *isNull = nullptr);
MYSQL_BIND BindFloat(float *value, char *isNull = nullptr);
MYSQL_BIND BindTime(MYSQL_TIME *value, char *isNull = nullptr);
MYSQL_BIND BindText(char *buffer, unsigned long capacity, unsigned long *length,
                    char *isNull = nullptr);

// Text without its trailing blanks, cut to at most `limit` characters first.
std::string Trimmed(const char *text, size_t limit);

// The channel records of every block: from the caller's arrays, from the runtime's channel
// configuration segments, or from a server that is not this computer. 0, or -1 with message.
int ChannelRecords(const LogHeader &header, const void *const *channelRecords, const char *server,
                   std::vector<std::vector<uint8_t>> *records, const char **message);

int BlockChannels(const LogBlockDescriptor &block);

// The state text a digital value of the block's channel is stored as, from the runtime's
// channel configuration segment of the block's prefix; "" when there is none.
std::string StateText(const LogBlockDescriptor &block, int channel, bool high);

} // namespace lmy
