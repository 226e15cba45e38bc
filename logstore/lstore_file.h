// The store of one run kept as a data file (".odl", ldf.h) with its text file beside it.
//
// While it appends, the store holds a one-byte lock at its write position on the write handle
// (moving with every append), so a second writer of the same run is refused; readers share the
// file and count whole records from its size. Every append is one write-through pwrite at the
// write position; a failed append cuts the file back there, so what was written stays whole.
#pragma once

#include "lstore.h"

#include <cstdint>
#include <string>

class CLogFileStore : public CLogStore {
public:
    CLogFileStore() = default;
    ~CLogFileStore() override;

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
    int Rename(const char *stem) override;
    void DeleteLogs(const TimeStamp *from, const TimeStamp *to) override;
    void Truncate(LogHeader *header, int count) override;
    int CountLogs(const TimeStamp *from, const TimeStamp *to, LogHeader *header) override;

    // Creates the run file with its header, channel blocks and extension, and starts appending.
    // The channel records come from channelRecords (one array per block) when given, else from
    // the runtime's channel configuration segments. The header's layout fields are computed here
    // and copied back. 0, or -1.
    int Create(const char *path, int ignored, LogHeader *header, const char *server,
               const void *const *channelRecords);
    int GetWriteHandle() const { return writeFd_; }
    // The run's files were moved while the store was closed: its name follows them.
    void SetName(const char *path) { path_ = path != nullptr ? path : ""; }

private:
    int WriteChannelBlocks(const LogHeader &header, const void *const *channelRecords,
                           const char *server);
    int Reopen(const char *operation);
    int ReadFd() const { return posFd_ >= 0 ? posFd_ : writeFd_; }
    int RemoteUnavailable();
    bool Remote() const { return writeFd_ < 0 && !server_.empty(); }
    // Reads through a handle, or through the server: the count read, or -1.
    int64_t ReadAt(void *buffer, int64_t length, int64_t offset);
    int ReplaceSection(const char *section, const char *text);
    int AddEvent(const char *section, const PreciseTimeStamp &stamp, const char *text,
                 const char *match);
    int AddEventW(const char *section, const PreciseTimeStamp &stamp, const char16_t *text,
                  const char16_t *match);
    int TextFile(std::string *path);
    void CloseHandles();

    int writeFd_ = -1;
    int posFd_ = -1;
    int64_t writePos_ = 0;
    int32_t savedPos_ = 0;
    std::string server_;
    std::string path_;
    uint32_t access_ = 0;
};
