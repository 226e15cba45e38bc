// The logged-data database: the tables of the runs (LOGGERS, <prefix>CHANNELS, <prefix>DATA,
// <prefix>TEXT), the statements that make and drop them, table prefixes and sequence numbers,
// date literals and time conditions, and the conversion of the system's times to the dates
// stored.
//
// Times handed to the database are 32-bit seconds since 1970 in local wall-clock convention,
// read as unsigned, so runs after 2038 keep their order and their dates.
#pragma once

#include "ts.h"

#include <cstdint>
#include <string>
#include <vector>

// The first sequence number of the date form (YYYYMMDD); counters stay below it.
constexpr int32_t LDB_DATE_SEQUENCE_MIN = 19000101;

// Text for a value between single quotes in a statement: every ' doubled.
std::string ldb_Quote(const std::string &text);

// 1 when the connection string is a Jet one ("PROVIDER=MICROSOFT.JET.OLEDB", any case).
int ldb_IsJet(const char *connection);

// The date literal of a time in one style: 0 "{ ts 'Y-M-D h:m:s.000' }", 1 the same with '/',
// 2 "#M/D/Y h:m:s#"; "" for other styles. The fields are those of the stored date (converted
// to UTC when DatabaseUTC is on).
std::string ldb_DateLiteral(int style, int32_t time);

// " WHERE " and the exclusive bounds of the times given (either may be null), or "".
std::string ldb_TimeCondition(int style, const TimeStamp *from, const TimeStamp *to);

// Statements.
std::string ldb_CreateLoggers(bool jetForm);
extern const char LDB_LOGGERS_PRIMARY_KEY[];
std::string ldb_CreateChannels(const std::string &prefix);
std::string ldb_ChannelsIndex(const std::string &prefix);
// form 0: TX varchar(255); 1: TX char(255); 2: DT date and TX char(255). `columns` is the
// channel column list (",LL integer, LV float NULL" and ", <name> <type> NULL" items).
std::string ldb_CreateData(const std::string &prefix, int form, const std::string &columns);
std::vector<std::string> ldb_DataIndexes(const std::string &prefix);
std::string ldb_CreateText(const std::string &prefix);
std::string ldb_DropTable(const std::string &prefix, const char *table);
std::string ldb_NextCounterQuery(const std::string &logger);
std::string ldb_RunByPrefixQuery(const std::string &prefix);

// The text through lstore_SanitizeName; then every other character that an unquoted identifier
// does not take (ASCII other than letters, digits, '_' and '$') becomes '_' too, so that
// "other.x", "Boiler's" or "A/B" name tables and columns of this database.
std::string ldb_Identifier(std::string text);
// The quote character of identifiers on the engine of a connection string: '`' for the
// MariaDB provider, '[' for SQL Server's (names then stand in brackets), '"' (the standard's)
// for every other.
char ldb_IdentifierQuote(const std::string &connection);
// The name between two quote characters, each quote character inside it doubled: a column
// named "ORDER", "101FIC" or "1E5" then stands in a statement as that name on every engine.
std::string ldb_QuoteIdentifier(const std::string &name, char quote);
// The base of a run's table prefix: the run-name prefix, or the logger name when that is empty,
// with "_" appended, as ldb_Identifier changes it.
std::string ldb_PrefixBase(const std::string &runPrefix, const std::string &logger);
// The run-name prefix as the table prefixes of its runs begin: changed as ldb_PrefixBase
// changes it, so that a run is found by the prefix it was made with. Empty stays empty.
std::string ldb_RunNamePrefix(const std::string &runPrefix);

// The three forms of a run's table prefix after its base (ldb_PrefixBase).
std::string ldb_DatedPrefix(const std::string &base, int32_t start);
std::string ldb_SequencePrefix(const std::string &base, int32_t sequence);
// The sequence number of the date form: year * 10000 + month * 100 + day of the start.
int32_t ldb_DateSequence(int32_t start);

// The SQL type of a channel column: REAL for analogue channels; for digital ones INTEGER
// without DatabaseDigitalText, char(32) for "On", else the value itself.
std::string ldb_ChannelColumnType(bool digital, bool digitalTextExists,
                                  const std::string &digitalText);

// A run's header text split as stored: the body of its [HEADER] section (cut to 255 characters
// for Jet) and its predefined text lines (each ended by CRLF). False when the text has no
// "[HEADER]\r\n".
bool ldb_SplitHeaderText(const std::string &text, bool jet, std::string *header,
                         std::vector<std::string> *lines);

// Registry switches under the product key. DatabaseDigitalText: whether the value exists and
// its text (read at every call).
bool ldb_DigitalText(std::string *value);
// DatabaseUTC, kept per direction once read; the reset makes the next conversion read again.
void ldb_ResetSwitches();

// Local seconds to the stored date (OLE days): 1 when valid.
int lstore_LocalToDbTime(int32_t time, double *date);
// A stored date back to local seconds; -1 for an invalid date outside UTC mode. Dates before
// 1970 give 0, after 2106-02-07 06:28:15 give 2^32 - 1 (as int32 bits).
int32_t lstore_DbTimeToLocal(double date, int invalid);
