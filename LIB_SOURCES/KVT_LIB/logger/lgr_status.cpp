// The request server's 56 logger-status channels: taken from a "resub" logger that publishes
// them for this server's folder or connection, else computed from the newest run.
#include "dm.h"
#include "lfile.h"
#include "lgr.h"
#include "lgr_server.h"
#include "lgr_server_internal.h"
#include "lst.h"
#include "shm.h"
#include "ts.h"

#include <cstring>
#include <strings.h>

using namespace lgr_detail;

namespace {

std::string fieldText(const char *field, size_t width) {
    return std::string(field, strnlen(field, width));
}

} // namespace

void CLogRequestServer::SetStatusText(int channel, const std::string &text) {
    uint8_t *record = statusRecords_[channel - 1];
    char field[32] = {};
    memcpy(field, text.data(), std::min<size_t>(text.size(), 32));
    if (memcmp(record + 32, field, 32) == 0 && memcmp(record + 64, field, 32) == 0) return;
    memcpy(record + 32, field, 32);
    memcpy(record + 64, field, 32);
    ts_Now(&statusStamp_);
}

bool CLogRequestServer::PublishedStatus() {
    if (lgr_AttachLoggerTable() != 0) return false;
    DataProcessEntry *process = dm_FindDataProcess("logst");
    if (process == nullptr) return false;
    char id[3] = {process->tableId[0], process->tableId[1], 0};
    SegmentHeader *data = dm_GetDataSegment(id);
    SegmentHeader *conf = dm_GetConfSegment(id);
    if (data == nullptr || conf == nullptr) return false;
    int count = dm_LoggerCount();
    for (int index = 0; index < count; ++index) {
        LoggerEntry *entry = dm_GetLogger(index);
        LoggerSecondEntry *second = dm_GetLoggerSecond(index);
        if (entry == nullptr || second == nullptr) continue;
        if (strncasecmp(entry->typeName, "resub", 5) != 0 || entry->active == 0) continue;
        std::string folder = fieldText(second->folder, sizeof second->folder);
        std::string connection = fieldText(second->connection, sizeof second->connection);
        if (strcasecmp(folder.c_str(), folder_[0].c_str()) != 0 ||
            strcasecmp(connection.c_str(), connection_.c_str()) != 0)
            continue;
        // The table must hold this logger's channels, and both segments their bytes.
        ChannelTableHeader table{};
        uint8_t *payload = shm_Payload(data);
        if (shm_PayloadLimit(data) < static_cast<int32_t>(sizeof table)) return false;
        memcpy(&table, payload, sizeof table);
        int capacity = table.channelCount;
        if (table.tableType != 8 || capacity < 32 * (index + 1) ||
            shm_PayloadLimit(data) < 20 + 8 * capacity ||
            shm_PayloadLimit(conf) < LST_RECORDS_BYTES * (index + 1))
            return false;
        uint32_t flags[LGR_STATUS_CHANNELS] = {};
        float values[LGR_STATUS_CHANNELS] = {};
        if (shm_Lock(data) != 0) return false;
        memcpy(&table, payload, sizeof table);
        statusStamp_ = table.fileTime;
        memcpy(flags, payload + 20 + 128 * index, 128);
        memcpy(values, payload + 20 + 4 * capacity + 128 * index, 128);
        shm_Unlock(data);
        lst_SplitDateTimes(flags, values);
        for (int c = 0; c < LGR_STATUS_CHANNELS; ++c) {
            statusFlags_[c] = static_cast<int32_t>(flags[c]);
            statusValues_[c] = values[c];
        }
        if (shm_Lock(conf) != 0) return false;
        lst_InitStatusRecords(index + 1, LGR_STATUS_CHANNELS,
                              reinterpret_cast<LoggerStatusRecord *>(statusRecords_));
        memcpy(statusRecords_, shm_Payload(conf) + LST_RECORDS_BYTES * index, LST_RECORDS_BYTES);
        shm_Unlock(conf);
        statusInitialised_ = false;
        return true;
    }
    return false;
}

void CLogRequestServer::RefreshLoggerStatus() {
    if (PublishedStatus()) return;
    if (store_[0]) {
        LogHeader header{};
        if (store_[0]->ReadHeader(&header) == 0) {
            // The record buffer and every read of it follow the layout the run was opened with;
            // a run re-created or damaged under the same name is opened afresh instead.
            if (SameLayout(header, header_[0]))
                header_[0] = header;
            else
                DropSlot(0);
        }
    }
    if (!statusInitialised_) {
        lst_InitStatusRecords(1, LGR_STATUS_CHANNELS,
                              reinterpret_cast<LoggerStatusRecord *>(statusRecords_));
        ts_Now(&statusStamp_);
        statusInitialised_ = true;
    }
    for (int c = 0; c < LGR_STATUS_CHANNELS; ++c) {
        statusFlags_[c] = c >= 12 ? 0xA0 : 0x20;
        statusValues_[c] = 0;
    }
    const LogHeader &h = header_[0];
    int64_t stop = lfile_TimeOf(h.stop);
    int64_t newest = int64_t{NewestSeconds(0)};
    statusFlags_[0] &= ~0x20;
    if (store_[0])
        statusFlags_[0] |= (h.stop == 0 || (newest_[0] != -1 && newest + 1 < stop)) ? 1 : 0;
    for (int k = 0; k < 6; ++k) {
        std::optional<std::string> piece = lst_PathPiece(folder_[0].c_str() + activeFolder_, k);
        SetStatusText(2 + k, piece ? *piece : "N/A");
        statusFlags_[1 + k] &= ~0x20;
    }
    std::string prefix = "N/A";
    if (!database_ && !runName_[0].empty()) {
        std::string name = runName_[0].substr(0, runName_[0].find('.'));
        if (const char *suffix = lfile_FindTimeSuffix(name.c_str(), ""))
            name.resize(static_cast<size_t>(suffix - name.c_str()));
        if (name.size() < 33) prefix = name;
    }
    SetStatusText(8, prefix);
    statusFlags_[7] &= ~0x20;
    statusFlags_[8] = (statusFlags_[8] & ~0x20) | (database_ ? 1 : 0);
    const char *activity = !store_[0]                                             ? "Not Started"
                           : (h.stop == 0 || (newest_[0] != -1 && newest > stop)) ? "Logging"
                                                                                  : "Finished";
    SetStatusText(10, activity);
    statusFlags_[9] &= ~0x20;
    statusFlags_[16] &= ~0x20;
    if (store_[0]) {
        statusValues_[16] = static_cast<float>(h.writePos);
        if (newest_[0] >= 0) {
            for (int c : {19, 20, 21})
                statusFlags_[c] &= ~0x20;
            statusValues_[19] = static_cast<float>(newest_[0] + 1);
            uint32_t t = NewestSeconds(0);
            if (t != 0) {
                struct tm tm = ts_GmTime(t);
                statusValues_[20] = static_cast<float>((tm.tm_year % 100) * 10000 +
                                                       (tm.tm_mon + 1) * 100 + tm.tm_mday);
                statusValues_[21] =
                    static_cast<float>(tm.tm_hour * 10000 + tm.tm_min * 100 + tm.tm_sec);
            }
        }
    }
    uint32_t flags[LGR_STATUS_CHANNELS];
    for (int c = 0; c < LGR_STATUS_CHANNELS; ++c)
        flags[c] = static_cast<uint32_t>(statusFlags_[c]);
    lst_SplitDateTimes(flags, statusValues_);
    for (int c = 0; c < LGR_STATUS_CHANNELS; ++c)
        statusFlags_[c] = static_cast<int32_t>(flags[c]);
}
