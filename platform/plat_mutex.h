// Named mutex shared by processes, standing in for a Windows mutex in the global namespace.
//
// The mutex <name> is a 64-byte shared-memory object "/<prefix>.<name>" holding one
// pthread mutex at offset 0 that is process-shared, robust and recursive. Like a Windows
// mutex it is recursive per thread, and a holder that dies leaves it "abandoned": the next
// locker gets it, is told so, and the mutex stays usable.
#pragma once

struct PlatMutex; // one per opened name; segments keep theirs for the life of the process

// Creates the named mutex, not owned, or opens it when it already exists (as CreateMutex
// does, also setting the last error to 183). nullptr with errno on failure.
PlatMutex *plat_MutexCreate(const char *name);

// Opens an existing named mutex; nullptr with errno 2 when missing.
PlatMutex *plat_MutexOpen(const char *name);

// Waits without limit. 0 when acquired; *abandoned (may be null) is 1 when the previous
// holder died while holding it. -1 with errno on failure.
int plat_MutexLock(PlatMutex *m, int *abandoned);

// Releases one level; -1 with errno 288 when the caller does not hold it.
int plat_MutexUnlock(PlatMutex *m);

// Releases this process's handle (the named mutex itself stays for the other processes).
void plat_MutexClose(PlatMutex *m);
