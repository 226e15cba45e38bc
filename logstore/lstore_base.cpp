#include "lstore.h"

#include "plat_error.h"

#include <cstring>

// The base operations are the stubs a store or collection keeps for what it does not serve.

CLogStore::~CLogStore() = default;
int CLogStore::Open(const char *, const char *, uint32_t) {
    return 0;
}
int CLogStore::StartLogging(LogHeader *) {
    return 0;
}
void CLogStore::GetName(char *, int *) {}
int CLogStore::Close() {
    return 0;
}
int CLogStore::SavePosition(int32_t) {
    return 0;
}
int CLogStore::ReadHeader(LogHeader *) {
    return 0;
}
int CLogStore::WriteHeader(LogHeader *, int) {
    return 0;
}
int CLogStore::ReadChannelInfo(LogHeader *, void *, int, int, int) {
    return 0;
}
int CLogStore::WriteLog(LogHeader *, const void *, int) {
    return 0;
}
int CLogStore::QueryLogs(const TimeStamp *, const TimeStamp *, LogHeader *, void *, int, int, int,
                         const char *, int, int) {
    return 0;
}
int CLogStore::ReadLogs(int, LogHeader *, void *, int, int, const char *, int) {
    return 0;
}
int CLogStore::ReadLog(int, LogHeader *, void *, int, int, int, const char *, int, int) {
    return 0;
}
int CLogStore::RewriteLog(int, LogHeader *, const void *, int) {
    return 0;
}
int CLogStore::GetNoLogs(LogHeader *) {
    return 0;
}
int CLogStore::GetNoValidLogs(LogHeader *) {
    return 0;
}
int CLogStore::ReadSectionW(const char *, char16_t *, int *, const TimeStamp *, const TimeStamp *) {
    return 0;
}
int CLogStore::ReadSection(const char *, char *, int *, const TimeStamp *, const TimeStamp *) {
    return 0;
}
int CLogStore::ReadSectionLinesW(const char *, char16_t **, int *, char16_t *, int *,
                                 const TimeStamp *, const TimeStamp *) {
    return 0;
}
int CLogStore::ReadSectionLines(const char *, char **, int *, char *, int *, const TimeStamp *,
                                const TimeStamp *) {
    return 0;
}
int CLogStore::WriteTextW(int32_t, const char16_t *, const char16_t *, const char *) {
    return 0;
}
int CLogStore::WriteText(int32_t, const char *, const char *, const char *) {
    return 0;
}
int CLogStore::WriteTextExW(const PreciseTimeStamp *, const char16_t *, const char16_t *,
                            const char *) {
    return 0;
}
int CLogStore::WriteTextEx(const PreciseTimeStamp *, const char *, const char *, const char *) {
    return 0;
}
int CLogStore::WritePosition(int32_t, int, float) {
    return 0;
}
int CLogStore::WriteHeaderTextW(const char16_t *) {
    return 0;
}
int CLogStore::WriteHeaderText(const char *) {
    return 0;
}
int CLogStore::WriteFormulae(const char *, int, const char *) {
    return 0;
}
int CLogStore::WriteUnitCategory(const char *, const char *) {
    return 0;
}
int CLogStore::GetTextTime(int32_t *) {
    return -1;
}
const char *CLogStore::GetErrorText() {
    return "";
}
const char *CLogStore::GetErrorMessage() {
    return "";
}
int CLogStore::Rename(const char *) {
    return 0;
}
void CLogStore::DeleteLogs(const TimeStamp *, const TimeStamp *) {}
void CLogStore::Truncate(LogHeader *, int) {}
int CLogStore::CountLogs(const TimeStamp *, const TimeStamp *, LogHeader *header) {
    return header != nullptr ? header->recordCount : 0;
}

CLogCollection::~CLogCollection() = default;
int CLogCollection::Open(const char *, const char *, const char *, const char *prefix, uint32_t) {
    size_t n = prefix != nullptr ? strlen(prefix) : 0;
    if (n >= sizeof prefix_) {
        plat_SetLastError(0);
        return -1;
    }
    memcpy(prefix_, prefix != nullptr ? prefix : "", n);
    prefix_[n] = '\0';
    return 0;
}
void CLogCollection::UseforLoggingDefault(int) {}
void CLogCollection::DeleteOlderThan(int32_t *) {}
int CLogCollection::FindFirst(int *) {
    return 0;
}
int CLogCollection::FindNext(char *, LogTimePair *, LogTimePair *) {
    return 0;
}
int CLogCollection::FindLogger(char *, int *, LogTimePair *, LogTimePair *, int) {
    return 0;
}
CLogStore *CLogCollection::CreateLogger(int32_t *, int, int, LogHeader *, const char16_t *, int,
                                        const char *, int, const void *const *) {
    return nullptr;
}
CLogStore *CLogCollection::CreateLoggerEx(int32_t *, int, int, LogHeader *, const char *, int,
                                          const char *, int, const void *const *) {
    return nullptr;
}
CLogStore *CLogCollection::OpenLogger(const char *, uint32_t) {
    return nullptr;
}
int CLogCollection::UseforLogging(CLogStore *, LogHeader *, const char *, int, int) {
    return 0;
}
int CLogCollection::CloseLogger(CLogStore *, const int32_t *, const int32_t *, int) {
    return 0;
}
const char *CLogCollection::GetErrorText() {
    return "";
}
const char *CLogCollection::GetErrorMessage() {
    return "";
}
void CLogCollection::MakeStoreName(const char *, char *, int *) {}
