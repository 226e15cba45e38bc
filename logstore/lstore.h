// Stores of logged data: one run (CLogStore) and a place that holds many runs (CLogCollection),
// the header record every store hands out (LogHeader), run identities and the two factories.
//
// Every operation returns 0 (or a count) on success and -1 with the Windows last error and errno
// on failure, unless its comment says otherwise. Times are seconds since 1970 stored in 32 bits
// and read unsigned (lfile_TimeOf, lfile.h), so runs from 2038 on sort after older ones.
#pragma once

#include "ts.h"

#include <cstddef>
#include <cstdint>
#include <string>

// Access bits of Open.
enum : uint32_t {
    LSTORE_READ = 0x80000000u,
    LSTORE_WRITE = 0x40000000u,
};

#pragma pack(push, 1)
// One block of channels of one prefix, channels first..last.
struct LogBlockDescriptor {
    char prefix[2];
    uint16_t first;
    uint16_t last;
    uint16_t valueKind;
    uint16_t valuesOffset; // offset of the block's first flag word inside a record
    char source[24];
    uint8_t spare[18];
};

struct LogChannelRef {
    char prefix[2];
    uint16_t number;
};

// The header of a run as the stores hand it to their callers.
struct LogHeader {
    int32_t writePos;
    uint16_t marker;
    uint16_t blockCount;
    int32_t recordCount;
    int32_t start;
    int32_t reserved1;
    int32_t stop;
    int32_t reserved2;
    int32_t dataOffset;
    int32_t recordSize;
    LogBlockDescriptor blocks[64];
    uint8_t tagColumns;
    uint8_t sigChange;
    LogChannelRef trigger;
    LogChannelRef lag;
    uint8_t reserved3[8];
    int32_t reserved4;
    uint16_t reserved5;
    int32_t extLength;
    int32_t extOffset;
    uint8_t carried[172]; // opaque to the file stores
};
#pragma pack(pop)

static_assert(sizeof(LogBlockDescriptor) == 52);
static_assert(offsetof(LogBlockDescriptor, first) == 2);
static_assert(offsetof(LogBlockDescriptor, last) == 4);
static_assert(offsetof(LogBlockDescriptor, valueKind) == 6);
static_assert(offsetof(LogBlockDescriptor, valuesOffset) == 8);
static_assert(offsetof(LogBlockDescriptor, source) == 10);
static_assert(offsetof(LogBlockDescriptor, spare) == 34);
static_assert(sizeof(LogChannelRef) == 4);
static_assert(sizeof(LogHeader) == 3568);
static_assert(offsetof(LogHeader, marker) == 4);
static_assert(offsetof(LogHeader, blockCount) == 6);
static_assert(offsetof(LogHeader, recordCount) == 8);
static_assert(offsetof(LogHeader, start) == 12);
static_assert(offsetof(LogHeader, reserved1) == 16);
static_assert(offsetof(LogHeader, stop) == 20);
static_assert(offsetof(LogHeader, reserved2) == 24);
static_assert(offsetof(LogHeader, dataOffset) == 28);
static_assert(offsetof(LogHeader, recordSize) == 32);
static_assert(offsetof(LogHeader, blocks) == 36);
static_assert(offsetof(LogHeader, tagColumns) == 3364);
static_assert(offsetof(LogHeader, sigChange) == 3365);
static_assert(offsetof(LogHeader, trigger) == 3366);
static_assert(offsetof(LogHeader, lag) == 3370);
static_assert(offsetof(LogHeader, reserved3) == 3374);
static_assert(offsetof(LogHeader, reserved4) == 3382);
static_assert(offsetof(LogHeader, reserved5) == 3386);
static_assert(offsetof(LogHeader, extLength) == 3388);
static_assert(offsetof(LogHeader, extOffset) == 3392);
static_assert(offsetof(LogHeader, carried) == 3396);

// The time pair of FindNext and FindLogger: the little-endian 64-bit time.
struct LogTimePair {
    uint32_t seconds;
    int32_t zero;
};
static_assert(sizeof(LogTimePair) == 8);

// One run. The base does nothing and can be instantiated; every operation has the base
// behaviour of its slot. Operations are declared in slot order.
class CLogStore {
public:
    CLogStore() = default;
    CLogStore(const CLogStore &) = delete;
    CLogStore &operator=(const CLogStore &) = delete;
    virtual ~CLogStore();

    virtual int Open(const char *server, const char *path, uint32_t access);
    virtual int StartLogging(LogHeader *header);
    // *length in: the buffer's size when positive, else LSTORE_NAME_SIZE.
    virtual void GetName(char *buffer, int *length);
    virtual int Close();
    virtual int SavePosition(int32_t value);
    virtual int ReadHeader(LogHeader *header);
    virtual int WriteHeader(LogHeader *header, int completed);
    virtual int ReadChannelInfo(LogHeader *header, void *records, int block, int first, int count);
    virtual int WriteLog(LogHeader *header, const void *records, int count);
    virtual int QueryLogs(const TimeStamp *from, const TimeStamp *to, LogHeader *header,
                          void *buffer, int recordSize, int count, int extraColumns,
                          const char *extraText, int descending, int timesOnly);
    // Records read (0 on failure).
    virtual int ReadLogs(int index, LogHeader *header, void *buffer, int count,
                         int extraColumns = 0, const char *extraText = nullptr, int ignored = 0);
    virtual int ReadLog(int index, LogHeader *header, void *buffer, int bytes, int ignored = 0,
                        int extraColumns = 0, const char *extraText = nullptr, int top = 0,
                        int descending = 0);
    virtual int RewriteLog(int index, LogHeader *header, const void *records, int bytes);
    virtual int GetNoLogs(LogHeader *header);
    virtual int GetNoValidLogs(LogHeader *header);
    // Lines read, 0 for a missing section, negative on failure; size in/out (out: bytes + 1).
    virtual int ReadSectionW(const char *section, char16_t *buffer, int *size,
                             const TimeStamp *from = nullptr, const TimeStamp *to = nullptr);
    virtual int ReadSection(const char *section, char *buffer, int *size,
                            const TimeStamp *from = nullptr, const TimeStamp *to = nullptr);
    virtual int ReadSectionLinesW(const char *section, char16_t **lines, int *count,
                                  char16_t *buffer, int *size, const TimeStamp *from = nullptr,
                                  const TimeStamp *to = nullptr);
    virtual int ReadSectionLines(const char *section, char **lines, int *count, char *buffer,
                                 int *size, const TimeStamp *from = nullptr,
                                 const TimeStamp *to = nullptr);
    virtual int WriteTextW(int32_t time, const char16_t *text, const char16_t *match,
                           const char *section);
    virtual int WriteText(int32_t time, const char *text, const char *match, const char *section);
    virtual int WriteTextExW(const PreciseTimeStamp *stamp, const char16_t *text,
                             const char16_t *match, const char *section);
    virtual int WriteTextEx(const PreciseTimeStamp *stamp, const char *text, const char *match,
                            const char *section);
    virtual int WritePosition(int32_t time, int hasValue, float value);
    virtual int WriteHeaderTextW(const char16_t *text);
    virtual int WriteHeaderText(const char *text);
    virtual int WriteFormulae(const char *prefix, int number, const char *text);
    virtual int WriteUnitCategory(const char *name, const char *text);
    virtual int GetTextTime(int32_t *time);
    virtual const char *GetErrorText();
    virtual const char *GetErrorMessage();
    // 1 renamed, 0 not.
    virtual int Rename(const char *stem);
    virtual void DeleteLogs(const TimeStamp *from, const TimeStamp *to);
    virtual void Truncate(LogHeader *header, int count);
    virtual int CountLogs(const TimeStamp *from, const TimeStamp *to, LogHeader *header);
};

// A place that holds many runs. The base keeps the run-name prefix.
class CLogCollection {
public:
    CLogCollection() = default;
    CLogCollection(const CLogCollection &) = delete;
    CLogCollection &operator=(const CLogCollection &) = delete;
    virtual ~CLogCollection();

    // Keeps the run-name prefix when shorter than 205 characters, else -1 with last error 0.
    virtual int Open(const char *connection, const char *folder, const char *logger,
                     const char *prefix, uint32_t access);
    virtual void UseforLoggingDefault(int value);
    virtual void DeleteOlderThan(int32_t *time);
    virtual int FindFirst(int *nameSize);
    virtual int FindNext(char *name, LogTimePair *start, LogTimePair *stop);
    virtual int FindLogger(char *name, int *nameSize, LogTimePair *start, LogTimePair *stop,
                           int anyName);
    virtual CLogStore *CreateLogger(int32_t *start, int ignored, int storeArgument,
                                    LogHeader *header, const char16_t *headerText, int archive,
                                    const char *server, int ignored2,
                                    const void *const *channelRecords);
    virtual CLogStore *CreateLoggerEx(int32_t *start, int ignored, int storeArgument,
                                      LogHeader *header, const char *headerText, int archive,
                                      const char *server, int ignored2,
                                      const void *const *channelRecords);
    virtual CLogStore *OpenLogger(const char *name, uint32_t access);
    virtual int UseforLogging(CLogStore *store, LogHeader *header, const char *prefix, int textFile,
                              int archive);
    virtual int CloseLogger(CLogStore *store, const int32_t *start, const int32_t *stop,
                            int readOnly);
    virtual const char *GetErrorText();
    virtual const char *GetErrorMessage();
    // *length in: the buffer's size when positive, else LSTORE_NAME_SIZE.
    virtual void MakeStoreName(const char *name, char *buffer, int *length);

protected:
    char prefix_[205] = {};
};

// The buffer a caller of GetName or MakeStoreName holds when it gives no length.
constexpr int LSTORE_NAME_SIZE = 260;

// How the database classes hand out a name they built: into the buffer (when given), cut to
// *length bytes when that is positive, else to LSTORE_NAME_SIZE, always terminated; *length
// (when given) then receives the whole name's length and its terminator.
void lstore_PutName(const std::string &name, char *buffer, int *length);

// -1 a path (file store), 0 ADO, 1 MariaDB, 2 WITSML, 3 OSDU.
int lstore_GetProviderType(const char *connection);

// Takes the key's item out of the string; 1 found, 0 not. With an output buffer the value is
// copied (NUL-terminated) only when it fits with its NUL; else 0 and the string is untouched.
// Without one the value's length goes to *size.
int lstore_TakeKeyValue(const char *key, char *string, int *size, char *out);
int lstore_TakeLoggerName(char *string, int *size, char *out);
// 1 with the value when it scans as a decimal number that fits int32; else 0, string unchanged.
int lstore_TakeLoggerSeq(char *string, int32_t *seq);
void lstore_SanitizeName(char *text);
int lstore_ParseHeaderChannels(const char *name);
int lstore_CountLines(const char *text);

// The channel records of one block (LDF_CHANNEL_SIZE bytes each) into out: from the runtime's
// configuration segment of the block's prefix, or from the server's current-values request,
// one channel per request (the record follows the reply's first 8 bytes). 0 or -1.
int lstore_ChannelsFromRuntime(const LogBlockDescriptor &block, uint8_t *out);
int lstore_ChannelsFromServer(const char *server, const LogBlockDescriptor &block, uint8_t *out);

// A new store or collection for the connection string's provider kind (MariaDB: lstore_mysql.h),
// or null for the kinds this build does not serve.
CLogStore *lstore_CreateStore(const char *connection);
CLogCollection *lstore_CreateCollection(const char *connection);

// The identity of the connection string's newest run; "" on any failure.
std::string lstore_MakeIdentity(const char *connection);
// The same through a collection that `make` gives for the string without its logger name.
std::string lstore_MakeIdentityWith(const char *connection,
                                    CLogCollection *(*make)(const char *connection));
