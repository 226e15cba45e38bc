// Channel records of a new run's blocks, from the runtime or from a server.
#include "dm.h"
#include "ldf.h"
#include "lstore.h"
#include "plat_error.h"
#include "req.h"
#include "shm.h"
#include "srv.h"

#include <cstdio>
#include <cstring>
#include <vector>

int lstore_ChannelsFromRuntime(const LogBlockDescriptor &block, uint8_t *out) {
    char id[3] = {block.prefix[0], block.prefix[1], '\0'};
    SegmentHeader *seg = dm_GetConfSegment(id);
    if (seg == nullptr) return plat_Fail(WERR_FILE_NOT_FOUND);
    int n = ldf_BlockChannels(block);
    if (shm_Lock(seg) != 0) return -1;
    int64_t available = shm_PayloadLimit(seg) / LDF_CHANNEL_SIZE;
    int rc = 0;
    if (block.first == 0 || block.first > block.last || block.last > available)
        rc = plat_Fail(WERR_INVALID_PARAMETER);
    else
        memcpy(out, shm_Payload(seg) + int64_t{LDF_CHANNEL_SIZE} * (block.first - 1),
               static_cast<size_t>(n) * LDF_CHANNEL_SIZE);
    shm_Unlock(seg);
    return rc;
}

int lstore_ChannelsFromServer(const char *server, const LogBlockDescriptor &block, uint8_t *out) {
    std::vector<char> reply(REQ_REPLY_SIZE);
    for (int c = block.first; c <= block.last; ++c) {
        char line[32];
        snprintf(line, sizeof line, "CV,%.2s,%d", block.prefix, c);
        int size = REQ_REPLY_SIZE;
        plat_SetLastError(0);
        int rc = srv_Command(server, line, reply.data(), &size);
        if (rc < 0 || size < 8 + LDF_CHANNEL_SIZE || reply[0] != '1' || reply[1] != ',') {
            uint32_t err = plat_GetLastError();
            return plat_Fail(err != 0 ? err : WERR_INVALID_DATA);
        }
        memcpy(out + int64_t{LDF_CHANNEL_SIZE} * (c - block.first), reply.data() + 8,
               LDF_CHANNEL_SIZE);
    }
    return 0;
}
