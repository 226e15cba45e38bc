// Runs kept in a MariaDB (MySQL protocol) database, reached through MariaDB Connector/C over the
// tables of the logged-data database (ldb.h): one run (CLogDbMySQLStore) and the runs of one
// logger (CLogDbMySQLCollection).
//
// Each object owns one server connection, closed by Close or, at the latest, by its destructor,
// so no failed or forgotten object holds a connection of the server. Times are written and read
// as the server's date-time fields of the 32-bit seconds read unsigned, so runs from 2038 on
// keep their dates. No header of Connector/C is included here.
#pragma once

#include "lstore.h"

#include <cstdint>
#include <string>
#include <vector>

struct st_mysql;

// The items of a MariaDB connection string. Each key counts only at the start of the string or
// of an item (after ';', blanks skipped), so a value can never be taken for a key.
struct LogConnectionString {
    std::string host = "localhost";
    std::string user;
    std::string db;
    std::string password; // decoded
    unsigned port = 0;    // 0: the connector's default
    bool hasUser = false;
    bool hasDb = false;
};
void lstore_ParseMySqlConnection(const char *connection, LogConnectionString *items);

// Base64 with the standard alphabet; decoding stops at the first '=' or foreign character.
std::string lstore_Base64Decode(const char *text);
std::string lstore_Base64Encode(const std::string &bytes);

class CLogDbMySQLStore : public CLogStore {
public:
    CLogDbMySQLStore() = default;
    ~CLogDbMySQLStore() override;

    int Open(const char *server, const char *path, uint32_t access) override;
    int StartLogging(LogHeader *header) override;
    void GetName(char *buffer, int *length) override;
    int Close() override;
    int SavePosition(int32_t value) override;
    int ReadHeader(LogHeader *header) override;
    int WriteHeader(LogHeader *header, int completed) override;
    int ReadChannelInfo(LogHeader *header, void *records, int block, int first, int count) override;
    int WriteLog(LogHeader *header, const void *records, int count) override;
    int QueryLogs(const TimeStamp *from, const TimeStamp *to, LogHeader *header, void *buffer,
                  int recordSize, int count, int extraColumns, const char *extraText,
                  int descending, int timesOnly) override;
    int ReadLogs(int index, LogHeader *header, void *buffer, int count, int extraColumns = 0,
                 const char *extraText = nullptr, int ignored = 0) override;
    // textFlag: bind TX; extraText: columns selected ahead of the record's.
    int ReadLog(int index, LogHeader *header, void *buffer, int bytes, int textFlag = 0,
                int ignored = 0, const char *extraText = nullptr, int top = 0,
                int descending = 0) override;
    int RewriteLog(int index, LogHeader *header, const void *records, int bytes) override;
    int GetNoLogs(LogHeader *header) override;
    int GetNoValidLogs(LogHeader *header) override;
    int ReadSectionW(const char *section, char16_t *buffer, int *size,
                     const TimeStamp *from = nullptr, const TimeStamp *to = nullptr) override;
    int ReadSection(const char *section, char *buffer, int *size, const TimeStamp *from = nullptr,
                    const TimeStamp *to = nullptr) override;
    int ReadSectionLinesW(const char *section, char16_t **lines, int *count, char16_t *buffer,
                          int *size, const TimeStamp *from = nullptr,
                          const TimeStamp *to = nullptr) override;
    int ReadSectionLines(const char *section, char **lines, int *count, char *buffer, int *size,
                         const TimeStamp *from = nullptr, const TimeStamp *to = nullptr) override;
    int WriteTextW(int32_t time, const char16_t *text, const char16_t *match,
                   const char *section) override;
    int WriteText(int32_t time, const char *text, const char *match, const char *section) override;
    int WriteTextExW(const PreciseTimeStamp *stamp, const char16_t *text, const char16_t *match,
                     const char *section) override;
    int WriteTextEx(const PreciseTimeStamp *stamp, const char *text, const char *match,
                    const char *section) override;
    int WritePosition(int32_t time, int hasValue, float value) override;
    int WriteHeaderTextW(const char16_t *text) override;
    int WriteHeaderText(const char *text) override;
    int WriteFormulae(const char *prefix, int number, const char *text) override;
    int WriteUnitCategory(const char *name, const char *text) override;
    int GetTextTime(int32_t *time) override;
    const char *GetErrorText() override { return detail_; }
    const char *GetErrorMessage() override { return message_; }
    int Rename(const char *stem) override;
    void DeleteLogs(const TimeStamp *from, const TimeStamp *to) override;
    void Truncate(LogHeader *header, int count) override;
    int CountLogs(const TimeStamp *from, const TimeStamp *to, LogHeader *header) override;

    // Fills the LOGGERS and CHANNELS rows of a run whose tables exist; `records` holds the
    // channel records of every block. 0, or -1 with the connection closed.
    int CreateRun(const std::string &connection, const std::string &prefix,
                  const std::string &logger, int32_t sequence, const LogHeader &header,
                  const char *headerText, const std::vector<std::vector<uint8_t>> &records);
    const std::string &TablePrefix() const { return prefix_; }
    int32_t Sequence() const { return sequence_; }

private:
    int Connect(const std::string &connection, bool mustExist);
    int OpenOnce(const std::string &identity, uint32_t access);
    void CloseConnection();
    int Fail(const char *message, const char *detail);
    std::string Escaped(const std::string &text);

    st_mysql *conn_ = nullptr;
    std::string connection_;
    std::string logger_;
    std::string prefix_;
    int32_t sequence_ = 0;
    uint32_t access_ = 0;
    bool logging_ = false;
    bool digitalText_ = false;
    int current_ = -1;
    char detail_[1000] = {};
    char message_[31] = {};
};

class CLogDbMySQLCollection : public CLogCollection {
public:
    CLogDbMySQLCollection() = default;
    ~CLogDbMySQLCollection() override;

    int Open(const char *connection, const char *folder, const char *logger, const char *prefix,
             uint32_t access) override;
    void DeleteOlderThan(int32_t *time) override;
    int FindFirst(int *nameSize) override;
    int FindNext(char *name, LogTimePair *start, LogTimePair *stop) override;
    int FindLogger(char *name, int *nameSize, LogTimePair *start, LogTimePair *stop,
                   int anyName) override;
    CLogStore *CreateLogger(int32_t *start, int plainName, int storeArgument, LogHeader *header,
                            const char16_t *headerText, int archive, const char *server,
                            int dateFlag, const void *const *channelRecords) override;
    CLogStore *CreateLoggerEx(int32_t *start, int plainName, int storeArgument, LogHeader *header,
                              const char *headerText, int archive, const char *server, int dateFlag,
                              const void *const *channelRecords) override;
    CLogStore *OpenLogger(const char *name, uint32_t access) override;
    int UseforLogging(CLogStore *store, LogHeader *header, const char *prefix, int textFile,
                      int archive) override;
    int CloseLogger(CLogStore *store, const int32_t *start, const int32_t *stop,
                    int readOnly) override;
    const char *GetErrorText() override { return detail_; }
    const char *GetErrorMessage() override { return message_; }
    void MakeStoreName(const char *name, char *buffer, int *length) override;

    bool CreatedLoggers() const { return created_; }

private:
    struct RunEntry {
        int32_t sequence;
        uint32_t start;
        uint32_t stop;
        std::string prefix;
    };
    int Fail(const char *message, const char *detail);
    int Query(const std::string &sql);
    int DropRun(const std::string &prefix);
    std::string Escaped(const std::string &text);

    st_mysql *conn_ = nullptr;
    std::string connection_;
    std::string logger_;
    std::string runPrefix_;
    uint32_t access_ = 0;
    bool created_ = false;
    std::vector<RunEntry> runs_;
    size_t cursor_ = 0;
    char detail_[1000] = {};
    char message_[31] = {};
};
