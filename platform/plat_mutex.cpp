#include "plat_mutex.h"

#include "plat_error.h"
#include "plat_shm.h"

#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <new>
#include <pthread.h>
#include <sys/mman.h>
#include <thread>

namespace {
// The 64-byte object: the mutex at 0, and a word that the creator sets once the mutex is
// initialised, so that an opener never uses a half-made mutex.
constexpr uint64_t k_objectSize = 64;
constexpr uint64_t k_readyOffset = 60;
constexpr uint32_t k_readyMark = 0x4D555458; // "MUTX"
static_assert(sizeof(pthread_mutex_t) <= k_readyOffset, "mutex must fit before the ready word");

// How long an opener waits for a creator that is still initialising the mutex.
constexpr auto k_readyWait = std::chrono::seconds(2);

std::atomic_ref<uint32_t> readyWord(void *base) {
    return std::atomic_ref<uint32_t>(
        *reinterpret_cast<uint32_t *>(static_cast<char *>(base) + k_readyOffset));
}
} // namespace

struct PlatMutex {
    pthread_mutex_t *mutex;
};

PlatMutex *plat_MutexCreate(const char *name) {
    void *base = plat_ShmCreate(name, k_objectSize);
    if (base == nullptr) {
        if (errno != WERR_ALREADY_EXISTS) return nullptr;
        PlatMutex *m = plat_MutexOpen(name);
        if (m != nullptr) plat_SetLastError(WERR_ALREADY_EXISTS);
        return m;
    }
    pthread_mutexattr_t attr;
    pthread_mutexattr_init(&attr);
    pthread_mutexattr_setpshared(&attr, PTHREAD_PROCESS_SHARED);
    pthread_mutexattr_setrobust(&attr, PTHREAD_MUTEX_ROBUST);
    pthread_mutexattr_settype(&attr, PTHREAD_MUTEX_RECURSIVE);
    int rc = pthread_mutex_init(static_cast<pthread_mutex_t *>(base), &attr);
    pthread_mutexattr_destroy(&attr);
    if (rc != 0) {
        plat_ShmUnlink(name);
        plat_Fail(plat_WinErrorFromPosix(rc));
        return nullptr;
    }
    readyWord(base).store(k_readyMark, std::memory_order_release);
    PlatMutex *m = new (std::nothrow) PlatMutex{static_cast<pthread_mutex_t *>(base)};
    if (m == nullptr)
        plat_Fail(WERR_NOT_ENOUGH_MEMORY);
    else
        plat_SetLastError(0);
    return m;
}

PlatMutex *plat_MutexOpen(const char *name) {
    PlatShmObject obj;
    if (plat_ShmOpen(name, &obj) != 0) return nullptr;
    if (obj.size < k_objectSize) {
        plat_ShmClose(&obj);
        plat_Fail(WERR_FILE_NOT_FOUND);
        return nullptr;
    }
    void *base = plat_ShmMap(&obj, k_objectSize);
    plat_ShmClose(&obj);
    if (base == nullptr) return nullptr;
    auto deadline = std::chrono::steady_clock::now() + k_readyWait;
    while (readyWord(base).load(std::memory_order_acquire) != k_readyMark) {
        if (std::chrono::steady_clock::now() >= deadline) {
            plat_Fail(WERR_FILE_NOT_FOUND);
            return nullptr;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    PlatMutex *m = new (std::nothrow) PlatMutex{static_cast<pthread_mutex_t *>(base)};
    if (m == nullptr) plat_Fail(WERR_NOT_ENOUGH_MEMORY);
    return m;
}

int plat_MutexLock(PlatMutex *m, int *abandoned) {
    if (abandoned != nullptr) *abandoned = 0;
    if (m == nullptr) return plat_Fail(WERR_INVALID_HANDLE);
    int rc = pthread_mutex_lock(m->mutex);
    if (rc == EOWNERDEAD) {
        // The holder died: the lock is ours; mark it consistent so that it stays usable.
        pthread_mutex_consistent(m->mutex);
        if (abandoned != nullptr) *abandoned = 1;
        return 0;
    }
    if (rc != 0)
        return plat_Fail(rc == ENOTRECOVERABLE ? WERR_INVALID_HANDLE : plat_WinErrorFromPosix(rc));
    return 0;
}

int plat_MutexUnlock(PlatMutex *m) {
    if (m == nullptr) return plat_Fail(WERR_INVALID_HANDLE);
    int rc = pthread_mutex_unlock(m->mutex);
    if (rc != 0) return plat_Fail(rc == EPERM ? WERR_NOT_OWNER : plat_WinErrorFromPosix(rc));
    return 0;
}

void plat_MutexClose(PlatMutex *m) {
    if (m == nullptr) return;
    munmap(m->mutex, k_objectSize);
    delete m;
}
