#include "lstore_file.h"

#include "evlog.h"
#include "ldf.h"
#include "lfile.h"
#include "plat_error.h"
#include "plat_file.h"
#include "plat_fileops.h"
#include "rfile.h"
#include "srv.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <vector>

namespace {
constexpr uint32_t k_readWrite = LSTORE_READ | LSTORE_WRITE;

bool isSep(char c) {
    return c == '\\' || c == '/';
}

int openRun(const char *path, uint32_t access, uint32_t flags) {
    uint32_t bits = access & k_readWrite;
    return plat_FileCreate(path, bits != 0 ? bits : LSTORE_READ, PLAT_OPEN_EXISTING, flags);
}

void report(const char *text) {
    evlog_ReportEvent(nullptr, EVLOG_ERROR, text);
}

} // namespace

CLogFileStore::~CLogFileStore() {
    CloseHandles();
}

void CLogFileStore::CloseHandles() {
    plat_FileClose(posFd_);
    plat_FileClose(writeFd_);
    posFd_ = writeFd_ = -1;
}

int CLogFileStore::RemoteUnavailable() {
    // Without a handle only reads go through the server; writes need the file itself.
    return plat_Fail(server_.empty() ? WERR_INVALID_HANDLE : WERR_NOT_SUPPORTED);
}

int64_t CLogFileStore::ReadAt(void *buffer, int64_t length, int64_t offset) {
    int fd = ReadFd();
    if (fd >= 0) return plat_FileReadAtMost(fd, buffer, static_cast<size_t>(length), offset);
    if (server_.empty()) return plat_Fail(WERR_INVALID_HANDLE);
    // Through the server in pieces of at most one read request.
    int64_t done = 0;
    while (done < length) {
        int piece = static_cast<int>(std::min<int64_t>(length - done, RFILE_MAX_READ));
        int got = 0;
        if (offset + done > INT32_MAX) return plat_Fail(WERR_FILE_TOO_LARGE);
        if (!rfile_ReadFile(server_.c_str(), -1, path_.c_str(),
                            static_cast<uint8_t *>(buffer) + done, piece, &got,
                            static_cast<int32_t>(offset + done), 0))
            return -1;
        done += got;
        if (got < piece) break;
    }
    return done;
}

int CLogFileStore::Open(const char *server, const char *path, uint32_t access) {
    if (path == nullptr || *path == '\0') return plat_Fail(WERR_FILE_NOT_FOUND);
    if (strlen(path) > LFILE_MAX_PATH) return plat_Fail(WERR_FILENAME_EXCED_RANGE);
    CloseHandles();
    bool hasServer = server != nullptr && *server != '\0';
    std::string opened = path;
    if (access & LSTORE_WRITE) plat_FileSetReadOnly(path, 0); // best effort
    int fd = openRun(path, access, PLAT_OPEN_WRITE_THROUGH);
    if (fd < 0) {
        if (!hasServer) return -1;
        int kind = srv_ServerKind(server);
        if (!isSep(path[0]) && !isSep(path[1]) && (kind == 0 || kind == 1)) {
            std::string unc = std::string("\\\\") + server + "\\" + path;
            fd = openRun(unc.c_str(), access, PLAT_OPEN_WRITE_THROUGH);
            if (fd >= 0) opened = unc;
        }
    }
    if (fd >= 0 && lfile_GetValidLength(fd) < 0) {
        uint32_t err = plat_GetLastError();
        plat_FileClose(fd);
        return plat_Fail(err);
    }
    writeFd_ = fd;
    server_ = hasServer ? server : "";
    path_ = opened;
    access_ = access;
    writePos_ = 0;
    savedPos_ = 0;
    return 0;
}

int CLogFileStore::WriteChannelBlocks(const LogHeader &h, const void *const *channelRecords,
                                      const char *server) {
    if (ldf_WriteHeader(writeFd_, h) != 0) return -1;
    std::vector<uint8_t> area;
    for (int k = 0; k < h.blockCount; ++k) {
        const LogBlockDescriptor &block = h.blocks[k];
        size_t n = static_cast<size_t>(ldf_BlockChannels(block));
        size_t at = area.size();
        area.resize(at + 4 + n * LDF_CHANNEL_SIZE);
        ldf_Put16(&area[at], LDF_BLOCK_START);
        uint8_t *records = &area[at + 2];
        if (channelRecords != nullptr && channelRecords[k] != nullptr)
            memcpy(records, channelRecords[k], n * LDF_CHANNEL_SIZE);
        else if (server != nullptr && lstore_ChannelsFromServer(server, block, records) != 0)
            return -1;
        else if (server == nullptr && lstore_ChannelsFromRuntime(block, records) != 0)
            return -1;
        ldf_Put16(&area[at + 2 + n * LDF_CHANNEL_SIZE], LDF_BLOCK_END);
    }
    return area.empty() ? 0 : plat_FileWriteAt(writeFd_, area.data(), area.size(), LDF_HEADER_SIZE);
}

int CLogFileStore::Create(const char *path, int, LogHeader *header, const char *server,
                          const void *const *channelRecords) {
    if (path == nullptr || *path == '\0' || header == nullptr)
        return plat_Fail(WERR_INVALID_PARAMETER);
    if (strlen(path) > LFILE_MAX_PATH) return plat_Fail(WERR_FILENAME_EXCED_RANGE);
    LogHeader h = *header;
    if (ldf_LayoutNewFile(&h) != 0) return -1;
    // Channel records come from the server's current values for a server other than this one.
    const char *recordServer =
        server != nullptr && *server != '\0' && !srv_IsLocal(server) ? server : nullptr;
    CloseHandles();
    writeFd_ = plat_FileCreate(path, k_readWrite, PLAT_CREATE_ALWAYS,
                               PLAT_OPEN_WRITE_THROUGH | PLAT_OPEN_NULL_ACCESS_LIST);
    if (writeFd_ < 0) return -1;
    auto fail = [this]() {
        uint32_t err = plat_GetLastError();
        CloseHandles();
        return plat_Fail(err);
    };
    if (WriteChannelBlocks(h, channelRecords, recordServer) != 0) return fail();
    posFd_ = plat_FileCreate(path, k_readWrite, PLAT_OPEN_EXISTING, PLAT_OPEN_NULL_ACCESS_LIST);
    if (posFd_ < 0) return fail();
    writePos_ = h.dataOffset;
    savedPos_ = h.dataOffset;
    if (plat_FileLockByte(writeFd_, writePos_) != 0 || SavePosition(0) != 0) return fail();
    *header = h;
    server_.clear();
    path_ = path;
    access_ = k_readWrite;
    return 0;
}

int CLogFileStore::StartLogging(LogHeader *header) {
    if (header == nullptr) return plat_Fail(WERR_INVALID_PARAMETER);
    const char *part = lfile_FindTimeSuffix(path_.c_str(), ".odl");
    if (part == nullptr) {
        report("No file name");
        return -1;
    }
    size_t length = strlen(part);
    if (length != 17 && length != 31) {
        report("Bad file name");
        plat_SetLastError(0);
        return -1;
    }
    if (length == 31) {
        plat_FileClose(writeFd_);
        writeFd_ = -1;
        std::string open =
            path_.substr(0, static_cast<size_t>(part - path_.c_str()) + 13) + (part + 27);
        if (plat_FileMove(path_.c_str(), open.c_str()) == 0) {
            path_ = open;
        } else if (plat_GetLastError() != WERR_SHARING_VIOLATION) {
            uint32_t err = plat_GetLastError();
            char text[700];
            snprintf(text, sizeof text, "Cant Move %s to %s Error %u", path_.c_str(), open.c_str(),
                     err);
            report(text);
            return plat_Fail(err);
        }
        writeFd_ = openRun(path_.c_str(), k_readWrite,
                           PLAT_OPEN_WRITE_THROUGH | PLAT_OPEN_NULL_ACCESS_LIST);
        if (writeFd_ < 0) {
            uint32_t err = plat_GetLastError();
            report("Cant open1");
            return plat_Fail(err);
        }
    }
    plat_FileClose(posFd_);
    posFd_ =
        openRun(path_.c_str(), k_readWrite, PLAT_OPEN_WRITE_THROUGH | PLAT_OPEN_NULL_ACCESS_LIST);
    if (posFd_ < 0) {
        uint32_t err = plat_GetLastError();
        report("Cant open2");
        return plat_Fail(err);
    }
    // The lock comes before the cut: a second writer of the same run must be refused before it
    // can drop records the first one is appending.
    // A writer holds the byte at the file's end, so that byte is tried too: a stale header must
    // not let a second writer cut what the first is still appending.
    int64_t pos = lfile_TimeOf(header->writePos);
    int64_t end = writeFd_ >= 0 ? lfile_GetFileSize(writeFd_) : -1;
    bool endFree = end >= 0 && (end == pos || plat_FileLockByte(writeFd_, end) == 0);
    if (endFree && end != pos) plat_FileUnlockByte(writeFd_, end);
    if (writeFd_ < 0 || pos < header->dataOffset || !endFree ||
        plat_FileLockByte(writeFd_, pos) != 0 || plat_FileSetEnd(writeFd_, pos) != 0) {
        uint32_t err = writeFd_ < 0 ? WERR_INVALID_HANDLE : plat_GetLastError();
        if (pos < header->dataOffset) err = WERR_INVALID_PARAMETER;
        CloseHandles();
        report("Cant lock");
        return plat_Fail(err);
    }
    writePos_ = pos;
    savedPos_ = header->writePos;
    if (SavePosition(0) != 0) {
        uint32_t err = plat_GetLastError();
        CloseHandles();
        report("Cant lock");
        return plat_Fail(err);
    }
    server_.clear();
    return 0;
}

void CLogFileStore::GetName(char *buffer, int *length) {
    lstore_PutName(path_, buffer, length);
    // Every path of a data file fits this size, so it is the size this store asks for.
    if (length) *length = LSTORE_NAME_SIZE;
}

int CLogFileStore::Close() {
    if (posFd_ >= 0) {
        SavePosition(0);
        plat_FileClose(posFd_);
        posFd_ = -1;
    }
    if (writeFd_ >= 0) {
        plat_FileUnlockByte(writeFd_, writePos_);
        plat_FileClose(writeFd_);
        writeFd_ = -1;
    }
    return 0;
}

int CLogFileStore::SavePosition(int32_t value) {
    if (posFd_ < 0) return plat_Fail(WERR_INVALID_HANDLE);
    if (value == 0) return plat_FileWriteAt(posFd_, &savedPos_, 4, 0);
    LogFileHeader file;
    if (plat_FileReadAt(posFd_, &file, sizeof file, 0) != 0) return -1;
    file.recordCount = value;
    return plat_FileWriteAt(posFd_, &file, sizeof file, 0);
}

int CLogFileStore::Reopen(const char *) {
    uint32_t previous = plat_GetLastError();
    int fd = openRun(path_.c_str(), access_, PLAT_OPEN_WRITE_THROUGH);
    if (fd >= 0 && lfile_GetFileSize(fd) >= 0) {
        // The old handle carried the append lock: carry it over while appending.
        if (posFd_ >= 0) plat_FileLockByte(fd, writePos_);
        plat_FileClose(writeFd_);
        writeFd_ = fd;
        plat_SetLastError(0);
        return 1;
    }
    plat_FileClose(fd);
    plat_Fail(previous);
    return 0;
}

int CLogFileStore::ReadHeader(LogHeader *header) {
    if (header == nullptr) return plat_Fail(WERR_INVALID_PARAMETER);
    LdfReader read = [this](void *b, size_t l, int64_t o) {
        return ReadAt(b, static_cast<int64_t>(l), o);
    };
    if (ldf_ReadHeader(read, header) != 0) {
        uint32_t err = plat_GetLastError();
        if (err == WERR_INVALID_DATA || writeFd_ < 0 || !Reopen("ReadHeaderEx") ||
            ldf_ReadHeader(read, header) != 0)
            return plat_Fail(err);
    }
    int count = GetNoLogs(header);
    if (count < 0) return -1;
    header->recordCount = count;
    header->writePos = static_cast<int32_t>(
        std::min<int64_t>(int64_t{count} * header->recordSize + header->dataOffset, INT32_MAX));
    return 0;
}

int CLogFileStore::WriteHeader(LogHeader *header, int) {
    if (header == nullptr) return plat_Fail(WERR_INVALID_PARAMETER);
    if (writeFd_ < 0) return plat_Fail(WERR_INVALID_HANDLE);
    LogFileHeader file;
    ldf_ToFile(*header, &file, nullptr);
    return plat_FileWriteAt(writeFd_, &file, sizeof file, 0);
}

int CLogFileStore::ReadChannelInfo(LogHeader *header, void *records, int block, int first,
                                   int count) {
    if (header == nullptr || records == nullptr || block < 0 || block >= header->blockCount ||
        block >= LDF_MAX_BLOCKS || first < 0 || count < 0 ||
        int64_t{first} + count > ldf_BlockChannels(header->blocks[block])) {
        plat_SetLastError(0);
        return -1;
    }
    int64_t bytes = int64_t{count} * LDF_CHANNEL_SIZE;
    int64_t n = ReadAt(records, bytes, ldf_ChannelOffset(*header, block, first));
    if (n < 0) return -1;
    return n < bytes ? plat_Fail(WERR_HANDLE_EOF) : 0;
}

int CLogFileStore::WriteLog(LogHeader *header, const void *records, int count) {
    if (header == nullptr || count < 0 || (records == nullptr && count > 0) ||
        header->recordSize <= 0)
        return plat_Fail(WERR_INVALID_PARAMETER);
    if (writePos_ == 0 || writePos_ < header->dataOffset || writeFd_ < 0)
        return plat_Fail(WERR_INVALID_PARAMETER);
    const uint8_t *p = static_cast<const uint8_t *>(records);
    int64_t size = header->recordSize;
    for (int i = 0; i < count; ++i)
        if (ldf_Get16(p + i * size) != LDF_RECORD_MARKER) return plat_Fail(WERR_INVALID_PARAMETER);
    int64_t bytes = size * count;
    int64_t end = writePos_ + bytes;
    if (end > INT32_MAX) return plat_Fail(WERR_FILE_TOO_LARGE);
    if (count == 0) return 0;
    if (plat_FileWriteAt(writeFd_, p, static_cast<size_t>(bytes), writePos_) != 0) {
        // Cut back whatever part of the batch reached the file, so the next append stays aligned.
        uint32_t err = plat_GetLastError();
        if (err == WERR_WRITE_FAULT) err = WERR_DISK_FULL;
        plat_FileSetEnd(writeFd_, writePos_);
        return plat_Fail(err);
    }
    if (plat_FileLockByte(writeFd_, end) == 0) plat_FileUnlockByte(writeFd_, writePos_);
    writePos_ = end;
    savedPos_ = static_cast<int32_t>(end);
    plat_SetLastError(0);
    return 0;
}

int CLogFileStore::QueryLogs(const TimeStamp *, const TimeStamp *, LogHeader *, void *, int, int,
                             int, const char *, int, int) {
    return 0;
}

int CLogFileStore::ReadLogs(int index, LogHeader *header, void *buffer, int count, int,
                            const char *, int) {
    if (header == nullptr || buffer == nullptr || index < 0 || count < 0 ||
        header->recordSize <= 0) {
        plat_Fail(WERR_INVALID_PARAMETER);
        return 0;
    }
    int64_t size = header->recordSize;
    bool remote = ReadFd() < 0;
    // One read request carries at most 65512 bytes.
    if (remote) count = static_cast<int>(std::min<int64_t>(count, RFILE_MAX_READ / size));
    bool failedOnce = false;
    while (count > 0) {
        int64_t offset = header->dataOffset + index * size;
        int64_t n = ReadAt(buffer, count * size, offset);
        if (n >= 0) {
            int whole = static_cast<int>(n / size);
            ldf_MarkInvalidRecords(*header, static_cast<uint8_t *>(buffer), whole);
            return whole;
        }
        uint32_t err = plat_GetLastError();
        if (remote || err == 0 || err == 21 || err == WERR_LOCK_VIOLATION ||
            err == WERR_IO_PENDING) {
            count /= 2;
        } else {
            if (failedOnce || !Reopen("ReadLogs")) return 0;
            failedOnce = true;
        }
    }
    return 0;
}

int CLogFileStore::ReadLog(int index, LogHeader *header, void *buffer, int bytes, int, int,
                           const char *, int, int) {
    if (header == nullptr || buffer == nullptr || index < 0 || bytes < 0 || header->recordSize <= 0)
        return plat_Fail(WERR_INVALID_PARAMETER);
    int64_t size = header->recordSize;
    int64_t offset = header->dataOffset + index * size;
    int64_t n = ReadAt(buffer, bytes, offset);
    if (n != bytes) {
        uint32_t err = n < 0 ? plat_GetLastError() : WERR_HANDLE_EOF;
        if (writeFd_ < 0 || !Reopen("ReadLog") || ReadAt(buffer, bytes, offset) != bytes)
            return plat_Fail(err);
    }
    ldf_MarkInvalidRecords(*header, static_cast<uint8_t *>(buffer), bytes / size);
    return 0;
}

int CLogFileStore::RewriteLog(int index, LogHeader *header, const void *records, int bytes) {
    if (header == nullptr || records == nullptr || index < 0 || bytes < 0 ||
        header->recordSize <= 0)
        return plat_Fail(WERR_INVALID_PARAMETER);
    int fd = ReadFd();
    if (fd < 0) return RemoteUnavailable();
    int64_t size = header->recordSize;
    const uint8_t *p = static_cast<const uint8_t *>(records);
    // A partial record is checked only when its marker is there to check.
    int64_t starts = bytes / size + (bytes % size >= 2 ? 1 : 0);
    for (int64_t i = 0; i < starts; ++i)
        if (ldf_Get16(p + i * size) != LDF_RECORD_MARKER) return plat_Fail(WERR_INVALID_PARAMETER);
    return plat_FileWriteAt(fd, p, static_cast<size_t>(bytes), header->dataOffset + index * size);
}

int CLogFileStore::GetNoLogs(LogHeader *header) {
    if (header == nullptr) return plat_Fail(WERR_INVALID_PARAMETER);
    if (header->recordSize <= 0) return plat_Fail(WERR_INVALID_DATA);
    if (writeFd_ < 0) {
        if (server_.empty()) return plat_Fail(WERR_INVALID_HANDLE);
        int64_t remoteSize = rfile_GetFileSize(server_.c_str(), path_.c_str());
        if (remoteSize < 0) return -1;
        return static_cast<int>(ldf_RecordCount(*header, remoteSize));
    }
    int64_t size = lfile_GetFileSize(writeFd_);
    if (size < 0 && (!Reopen("GetNoLogs") || (size = lfile_GetFileSize(writeFd_)) < 0)) return -1;
    return static_cast<int>(ldf_RecordCount(*header, size));
}

int CLogFileStore::GetNoValidLogs(LogHeader *header) {
    if (header == nullptr) return plat_Fail(WERR_INVALID_PARAMETER);
    if (header->sigChange == 0) return 0;
    int count = GetNoLogs(header);
    if (count < 0) return -1;
    if (count == 0) return 0;
    int64_t size = header->recordSize;
    // Only byte 2 of each record matters. Records are read in blocks of about 64 KiB; of a
    // larger record only its byte 2 is read, so what a header claims never sizes the buffer.
    if (size > 65536) {
        for (int64_t i = 0; i < count; ++i) {
            uint8_t changed = 0;
            int64_t got = ReadAt(&changed, 1, header->dataOffset + i * size + 2);
            if (got < 0) return -1;
            if (got < 1) return plat_Fail(WERR_HANDLE_EOF);
            if (changed == 0) return static_cast<int>(i);
        }
        return count;
    }
    int64_t perBlock = std::min<int64_t>(65536 / size, count);
    std::vector<uint8_t> block(static_cast<size_t>(perBlock * size));
    for (int64_t first = 0; first < count; first += perBlock) {
        int64_t n = std::min<int64_t>(perBlock, count - first);
        int64_t got = ReadAt(block.data(), n * size, header->dataOffset + first * size);
        if (got < 0) return -1;
        if (got < n * size) return plat_Fail(WERR_HANDLE_EOF);
        for (int64_t i = 0; i < n; ++i)
            if (block[static_cast<size_t>(i * size + 2)] == 0) return static_cast<int>(first + i);
    }
    return count;
}

void CLogFileStore::Truncate(LogHeader *header, int count) {
    if (header == nullptr || count < 0 || header->recordSize <= 0 || writeFd_ < 0) {
        plat_SetLastError(WERR_INVALID_PARAMETER);
        return;
    }
    int64_t end = writePos_ - int64_t{count} * header->recordSize;
    if (end < header->dataOffset) {
        plat_SetLastError(WERR_INVALID_PARAMETER);
        return;
    }
    if (end == writePos_) return;
    if (plat_FileLockByte(writeFd_, end) != 0) return;
    plat_FileUnlockByte(writeFd_, writePos_);
    if (plat_FileSetEnd(writeFd_, end) != 0) {
        plat_FileLockByte(writeFd_, writePos_);
        plat_FileUnlockByte(writeFd_, end);
        return;
    }
    writePos_ = end;
    savedPos_ = static_cast<int32_t>(end);
}

void CLogFileStore::DeleteLogs(const TimeStamp *, const TimeStamp *) {}

int CLogFileStore::CountLogs(const TimeStamp *, const TimeStamp *, LogHeader *header) {
    return header != nullptr ? header->recordCount : 0;
}
