// The store of one run kept in a database: its LOGGERS row and its <prefix>CHANNELS,
// <prefix>DATA and <prefix>TEXT tables, presented as a LogHeader, LogRecords and text
// sections. Reading goes through one data access object, logging through a second one.
#pragma once

#include "dbacc.h"
#include "lstore.h"

#include <string>

class CLogDbStore : public CLogStore {
public:
    CLogDbStore() = default;
    ~CLogDbStore() override = default;

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
    int ReadLog(int index, LogHeader *header, void *buffer, int bytes, int ignored = 0,
                int extraColumns = 0, const char *extraText = nullptr, int top = 0,
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

    // Fills a new run: its LOGGERS row, TEXT rows and CHANNELS rows (`records`: one record
    // array per block), then starts logging. 0 or -1 with the error set.
    int InitNewRun(const char *connection, const char *prefix, const char *logger, int32_t seq,
                   LogHeader *header, const char *headerText, const char *server,
                   const void *const *records);

    // The run's table prefix (buffer of 260, size out 260) and sequence number.
    void GetTablePrefix(char *buffer, int *size) const;
    int32_t GetSequence() const { return seq_; }

private:
    int fail(const char *detail, const char *message);
    int connect(const std::string &connection);
    int findRun(const std::string &connection);
    void setConnectionString(const std::string &connection);
    std::string runCondition() const;
    template <typename F>
    bool withStyles(F attempt);
    // Extra column j goes to the 8 bytes at extraAt + 8 x j.
    int buildRecord(const LogHeader &header, uint8_t *record, int bytes, int extraColumns,
                    bool wholeRows, int extraAt);
    int writeRow(const LogHeader &header, const uint8_t *record, int bytes);
    int writeText(int32_t time, const std::u16string &text, bool lumbrelException);
    int touchTextTime();
    int readTimedSection(bool positions, std::string *out, const TimeStamp *from,
                         const TimeStamp *to);

    CLogITDbDataAcc reader_;
    CLogITDbDataAcc logger_;
    int32_t loggingStarted_ = 0;
    std::string connection_;
    std::string loggerName_;
    std::string prefix_;
    int32_t seq_ = 0;
    int32_t current_ = -1;
    uint32_t access_ = 0;
    int32_t styleLow_ = 0;
    int32_t styleHigh_ = 2;
    int32_t topWorks_ = 1;
    int32_t digitalText_ = 0;
    int32_t sigChange_ = 0;
    char detail_[1000] = {};
    char message_[31] = {};
};
