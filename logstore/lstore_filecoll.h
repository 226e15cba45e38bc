// The collection of a folder that holds the runs of one logger as data files.
//
// A run is "<prefix><start>.odl" while open and "<prefix><start>_<stop>.odl" once closed (times
// "YYMMDD_hhmmss", read unsigned so that runs from 2038 on sort after older ones), with its text
// file (".txt"), configuration archive (".kvt") and ".zip" beside it under the same name. A
// folder on another computer that cannot be reached as a share is listed through the remote
// file requests. The process's working folder is never changed here.
#pragma once

#include "lstore.h"
#include "plat_fileops.h"

#include <cstdint>
#include <string>
#include <vector>

class CLogFileStore;

class CLogFileCollection : public CLogCollection {
public:
    CLogFileCollection() = default;
    ~CLogFileCollection() override;

    // An empty folder means "<KVT_LOGGED_DATA>/<logger>"; "<NAME>/rest" resolves NAME as a suite
    // folder. Access LSTORE_WRITE creates what is missing.
    int Open(const char *connection, const char *folder, const char *logger, const char *prefix,
             uint32_t access) override;
    void UseforLoggingDefault(int value) override;
    void DeleteOlderThan(int32_t *time) override;
    int FindFirst(int *nameSize) override;
    int FindNext(char *name, LogTimePair *start, LogTimePair *stop) override;
    int FindLogger(char *name, int *nameSize, LogTimePair *start, LogTimePair *stop,
                   int anyName) override;
    CLogStore *CreateLogger(int32_t *start, int ignored, int storeArgument, LogHeader *header,
                            const char16_t *headerText, int archive, const char *server,
                            int ignored2, const void *const *channelRecords) override;
    CLogStore *CreateLoggerEx(int32_t *start, int ignored, int storeArgument, LogHeader *header,
                              const char *headerText, int archive, const char *server, int ignored2,
                              const void *const *channelRecords) override;
    CLogStore *OpenLogger(const char *name, uint32_t access) override;
    int UseforLogging(CLogStore *store, LogHeader *header, const char *prefix, int textFile,
                      int archive) override;
    int CloseLogger(CLogStore *store, const int32_t *start, const int32_t *stop,
                    int readOnly) override;
    const char *GetErrorText() override;
    const char *GetErrorMessage() override;
    void MakeStoreName(const char *name, char *buffer, int *length) override;

    const char *GetFolder() const { return folder_; }
    int IsRemote() const { return remote_; }

private:
    // One listed name: false at the end of the listing.
    bool NextName(std::string *name);
    int ListRemote(const char *pattern, std::vector<std::string> *names);
    int CreateFolder(const std::string &path, uint32_t access);
    CLogStore *Create(int32_t *start, int storeArgument, LogHeader *header, const void *text,
                      size_t textBytes, int archive, const char *server,
                      const void *const *channelRecords);
    void SetError(const char *message, const char *text);
    std::string Path(const std::string &name) const;

    char folder_[260] = {};
    std::string server_;
    PlatFindHandle find_;
    PlatFindEntry findEntry_;
    bool findPending_ = false;
    int remote_ = 0;
    std::vector<std::string> remoteNames_;
    size_t remoteNext_ = 0;
    char errorText_[1000] = {};
    char errorMessage_[32] = {};
};
