// The logged-data request server: answers the two-letter requests of a kind-3 connection from a
// logger's runs (a folder of data files or a database connection string) instead of from the
// runtime server.
//
// Requests 6S, 7S and 8S carry addresses of the caller's buffers as decimal numbers: the client
// shares the process and the server writes straight into them.
#pragma once

#include "lstore.h"
#include "srv_kinds.h"
#include "ts.h"

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#pragma pack(push, 1)
// A channel as the requests name it: prefix (not terminated) and number.
struct ChannelCode {
    char prefix[2];
    uint16_t number;
};
#pragma pack(pop)
static_assert(sizeof(ChannelCode) == 4);
static_assert(offsetof(ChannelCode, number) == 2);

enum : int {
    LGR_STATUS_CHANNELS = 56,
    LGR_STATUS_RECORD_SIZE = 216,
};

// Prefixes compared over two characters without case, then the numbers: <0, 0, >0.
int lgr_CompareChannelCodes(const ChannelCode &a, const ChannelCode &b);

// One token of a channel list: 1 a number (prefix unchanged), 2 a prefix (number 0), 0 a token
// that ends the list.
int lgr_ParseChannelCode(const std::string &token, char prefix[2], int *number);

// The index of the first record not earlier than the stamp, or the one before it when that
// record is later and not the first; -1 for n <= 0 or a failed read. Times are compared on the
// widened seconds, then the milliseconds.
int lgr_FindRecordAtOrAfter(CLogStore *store, LogHeader *header, int n, uint32_t seconds,
                            int milliseconds);

// Reads a whole file into text, which keeps a NUL after it: 0, or -1 with errno and the last
// error.
int lgr_ReadWholeFile(const char *path, std::string *text);

// Makes every server close its stores after each request other than 5S to 8S.
void lgr_SetCloseAfterRequest();

// The factory that kind-3 connections use.
LocalDataServer *lgr_CreateRequestServer();

class CLogRequestServer : public LocalDataServer {
public:
    CLogRequestServer();
    ~CLogRequestServer() override;
    CLogRequestServer(const CLogRequestServer &) = delete;
    CLogRequestServer &operator=(const CLogRequestServer &) = delete;

    int Open(const char *spec) override;
    int HandleRequest(const char *request, int requestLength, char *reply, int capacity,
                      int *replyLength) override;
    void Close() override;

    struct RunEntry;
    struct Group {
        char prefix[2];
        std::vector<int> numbers;
    };

private:
    struct Reply;

    int OpenLatestRuns();
    void RefreshStores();
    // Closes store slot i and forgets its run, so the next refresh opens the newest run again.
    void DropSlot(int i);
    void RefreshLoggerStatus();
    bool PublishedStatus();
    void SetStatusText(int channel, const std::string &text);
    void RefreshRunList();
    void RefreshRun(RunEntry &entry, bool first);
    void CacheRecord(RunEntry &entry, int index, const uint8_t *record);
    int LoadDashboardChannels();
    void AddRequestedChannels(const char *list);
    void ReleaseStore(CLogStore *store, CLogCollection *collection);
    std::string Identity(int slot, const std::string &run) const;
    CLogStore *OpenRunStore(const std::string &identity) const;
    int CurrentSlot() const { return store_[1] ? 1 : 0; }
    bool StatusServesLs() const;
    int FindBlock(const LogHeader &header, const char prefix[2], int number) const;
    uint32_t NewestSeconds(int slot) const;
    int NewestMs(int slot) const;
    // Starts a group of a CR or CV reply with its time stamp: the status channels' (when they
    // serve LS), the run start of the slot's run for a prefix it logs, else zero. True for LS.
    bool PutGroupStamp(const Group &group, int slot, bool status, Reply &reply) const;

    int Dispatch(const std::string &code, const std::string &args, Reply &reply);
    int Processors(bool ip, const std::string &args, Reply &reply);
    int ChannelRecords(const std::vector<Group> &groups, Reply &reply);
    int CurrentValues(const std::vector<Group> &groups, Reply &reply);
    int TagsToCodes(const std::string &args, Reply &reply);
    int EarliestStart(Reply &reply);
    int LatestEnd(Reply &reply);
    int RangeSummary(const std::string &args, Reply &reply);
    int SectionText(const std::string &args, Reply &reply);
    int RangeRecords(const std::string &args, bool buckets, Reply &reply);

    struct Summary {
        uint32_t earliest = 0;
        uint32_t latestEnd = 0;
        uint32_t records = 0;
        uint32_t textLength = 0;
    };
    Summary Summarise(bool useFrom, uint32_t from, bool useTo, uint32_t to) const;

    std::unique_ptr<CLogCollection> collection_[2];
    std::unique_ptr<CLogCollection> listing_;
    std::unique_ptr<CLogStore> store_[2];
    int database_ = 0;
    LogHeader header_[2] = {};
    std::vector<uint8_t> record_[2];
    TimeStamp runStart_[2] = {};
    int newest_[2] = {-1, -1};
    uint32_t reopenTick_ = 0;
    uint32_t refreshTick_ = 0;
    bool refreshed_ = false;
    std::string connection_;
    std::string logger_[2];
    std::string folder_[2];
    std::string runName_[2];
    std::string server_;
    size_t activeFolder_ = 0; // where folder 0's text starts after a share's computer name

    uint8_t statusRecords_[LGR_STATUS_CHANNELS][LGR_STATUS_RECORD_SIZE] = {};
    TimeStamp statusStamp_ = {};
    int32_t statusFlags_[LGR_STATUS_CHANNELS] = {};
    float statusValues_[LGR_STATUS_CHANNELS] = {};
    bool statusInitialised_ = false;

    std::vector<std::unique_ptr<RunEntry>> runs_;
    uint32_t runListTick_ = 0;
    bool runListFresh_ = false;
    int64_t folderTime_[2] = {-1, -1};
    int logging_ = 0;
    std::string headerText_;
    std::vector<ChannelCode> dashboard_;
    int dashboardState_ = 0; // 0 not loaded, 1 loaded, -1 the load failed
};
