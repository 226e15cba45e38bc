#include "plat_error.h"
#include "srv_state.h"

#include <cerrno>
#include <cstring>
#include <new>
#include <strings.h>

namespace {
// The table is created once and lives as long as the process: threads may still hold an
// entry while the process ends.
std::mutex g_tableLock;
ServerConnection *g_table = nullptr;
int g_count = 0;

const ServerTransport *g_transports[5] = {nullptr, &srv_pipeTransport, nullptr, nullptr, nullptr};

const ServerTransport *transportOf(int kind) {
    std::lock_guard<std::mutex> guard(g_tableLock);
    return kind >= 1 && kind <= 4 ? g_transports[kind] : nullptr;
}

// Opens a closed entry by the kind of its spec; the entry lock is held.
bool openEntry(ServerConnection *entry) {
    int kind = srv_ServerKind(entry->name);
    const ServerTransport *t = transportOf(kind);
    if (t == nullptr || t->open == nullptr) {
        plat_SetLastError(WERR_NOT_SUPPORTED);
        return false;
    }
    entry->handle = nullptr;
    if (t->open(entry) == 0) {
        entry->kind = SRV_KIND_CLOSED;
        return false;
    }
    entry->kind = kind;
    return true;
}

// Closes an open entry; the entry lock is held. The last error is kept for the caller.
void closeEntry(ServerConnection *entry) {
    if (entry->kind == SRV_KIND_CLOSED) return;
    uint32_t error = plat_GetLastError();
    const ServerTransport *t = transportOf(entry->kind);
    if (t != nullptr && t->close != nullptr) t->close(entry);
    entry->handle = nullptr;
    entry->kind = SRV_KIND_CLOSED;
    plat_SetLastError(error);
}
} // namespace

void srv_RegisterTransport(int kind, const ServerTransport *transport) {
    if (kind < 2 || kind > 4) return;
    std::lock_guard<std::mutex> guard(g_tableLock);
    g_transports[kind] = transport;
}

int srv_InitTable(int count) {
    std::lock_guard<std::mutex> guard(g_tableLock);
    if (g_table != nullptr) return 1;
    if (count <= 0) return 0;
    g_table = new (std::nothrow) ServerConnection[count];
    if (g_table == nullptr) return 0;
    for (int i = 0; i < count; ++i) {
        g_table[i].name[0] = '\0';
        g_table[i].kind = SRV_KIND_CLOSED;
        g_table[i].handle = nullptr;
    }
    g_count = count;
    return 1;
}

ServerConnection *srv_Lock(const char *spec) {
    if (!srv_InitTable(SRV_TABLE_SIZE)) {
        plat_SetLastError(WERR_NOT_ENOUGH_MEMORY);
        return nullptr;
    }
    std::string name = srv_NormaliseSpec(spec);
    if (name.size() >= static_cast<size_t>(SRV_SPEC_SIZE)) {
        plat_SetLastError(WERR_INVALID_PARAMETER);
        return nullptr;
    }
    ServerConnection *entry = nullptr;
    {
        // Only the search and the claim happen under the table lock: an exchange may take
        // long, and an in-process server may send requests of its own while it answers.
        std::lock_guard<std::mutex> guard(g_tableLock);
        for (int i = 0; i < g_count && entry == nullptr; ++i)
            if (strcasecmp(g_table[i].name, name.c_str()) == 0) entry = &g_table[i];
        for (int i = 0; i < g_count && entry == nullptr; ++i)
            if (g_table[i].name[0] == '\0') {
                entry = &g_table[i];
                memcpy(entry->name, name.c_str(), name.size() + 1);
            }
    }
    if (entry == nullptr) {
        plat_SetLastError(WERR_TOO_MANY_OPEN_FILES);
        return nullptr;
    }
    entry->lock.lock();
    if (entry->kind == SRV_KIND_CLOSED && !openEntry(entry)) {
        entry->lock.unlock();
        return nullptr;
    }
    return entry;
}

void srv_Unlock(ServerConnection *entry) {
    if (entry != nullptr) entry->lock.unlock();
}

int srv_IsReachable(const char *spec) {
    ServerConnection *entry = srv_Lock(spec);
    if (entry == nullptr) return 0;
    srv_Unlock(entry);
    return 1;
}

int srv_TransactRecord(ServerConnection *entry, const char *request, int length, char *reply,
                       int *size) {
    if (entry->kind == SRV_KIND_CLOSED) {
        plat_SetLastError(WERR_INVALID_HANDLE);
        return 0;
    }
    const ServerTransport *t = transportOf(entry->kind);
    if (t == nullptr || t->transact == nullptr) {
        plat_SetLastError(WERR_NOT_SUPPORTED);
        closeEntry(entry);
        return 0;
    }
    int ok = t->transact(entry, request, length, reply, size);
    if (ok == 0 && !t->keepOnFailure) closeEntry(entry);
    return ok;
}

void srv_CloseAll() {
    if (!srv_InitTable(SRV_TABLE_SIZE)) return;
    int count;
    {
        std::lock_guard<std::mutex> guard(g_tableLock);
        count = g_count;
    }
    for (int i = 0; i < count; ++i) {
        std::lock_guard<std::recursive_mutex> guard(g_table[i].lock);
        closeEntry(&g_table[i]);
    }
}

void srv_Close(const char *spec) {
    if (!srv_InitTable(SRV_TABLE_SIZE)) return;
    std::string name = srv_NormaliseSpec(spec);
    ServerConnection *entry = nullptr;
    {
        std::lock_guard<std::mutex> guard(g_tableLock);
        for (int i = 0; i < g_count && entry == nullptr; ++i)
            if (strcasecmp(g_table[i].name, name.c_str()) == 0) entry = &g_table[i];
    }
    if (entry == nullptr) return;
    std::lock_guard<std::recursive_mutex> guard(entry->lock);
    closeEntry(entry);
}
