#include "plat_error.h"
#include "plat_event.h"
#include "srv_kinds.h"
#include "srv_remote.h"

#include <atomic>

namespace {
std::atomic<LocalDataServer *(*)()> g_factory{nullptr};
std::atomic<int> g_closeDelay{1000};
} // namespace

void srv_SetLocalDataServerFactory(LocalDataServer *(*create)()) {
    g_factory.store(create);
}

void srv_SetLocalDataCloseDelay(int milliseconds) {
    g_closeDelay.store(milliseconds < 0 ? 1000 : milliseconds);
}

int srv_OpenLocalDataServer(ServerConnection *entry) {
    LocalDataServer *(*create)() = g_factory.load();
    if (create == nullptr) {
        plat_SetLastError(WERR_NOT_SUPPORTED);
        return 0;
    }
    LocalDataServer *server = create();
    if (server == nullptr) {
        plat_SetLastError(WERR_NOT_ENOUGH_MEMORY);
        return 0;
    }
    if (server->Open(entry->name) != 0) {
        uint32_t error = plat_GetLastError();
        delete server;
        plat_SetLastError(error != 0 ? error : WERR_GEN_FAILURE);
        return 0;
    }
    entry->handle = server;
    return 1;
}

int srv_TransactLocalData(ServerConnection *entry, const char *request, int length, char *reply,
                          int *size) {
    if (entry->kind != SRV_KIND_INPROC || entry->handle == nullptr) {
        plat_SetLastError(WERR_INVALID_HANDLE);
        return 0;
    }
    auto *server = static_cast<LocalDataServer *>(entry->handle);
    int capacity = *size;
    int replyLength = 0;
    plat_SetLastError(0);
    int result = server->HandleRequest(request, length, reply, capacity, &replyLength);
    if (result != 1) {
        // 0 (no data) and -1 both fail the exchange; the server stays open.
        if (plat_GetLastError() == 0) plat_SetLastError(WERR_NO_DATA);
        *size = 0;
        return 0;
    }
    if (replyLength < 0 || replyLength > capacity) {
        plat_SetLastError(WERR_MORE_DATA);
        *size = 0;
        return 0;
    }
    *size = replyLength;
    plat_SetLastError(0);
    return 1;
}

void srv_CloseLocalDataServer(ServerConnection *entry) {
    auto *server = static_cast<LocalDataServer *>(entry->handle);
    entry->handle = nullptr;
    if (server == nullptr) return;
    server->Close();
    // The server's own threads may still be finishing work the close started.
    plat_SleepMs(static_cast<uint32_t>(g_closeDelay.load()));
    delete server;
}
