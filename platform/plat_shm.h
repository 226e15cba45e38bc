// Named shared memory, standing in for Windows paging-file mappings in the global namespace.
//
// An object called <name> lives at "/<prefix>.<name>" (prefix from KVT_IPC_PREFIX), created
// with mode 0666 whatever the umask, so that every process of the installation opens it.
// Mappings are never unmapped: the runtime keeps segments for the life of the process.
#pragma once

#include <cstdint>
#include <string>

// "/<prefix>.<name>", the POSIX name of the object.
std::string plat_ShmObjectName(const char *name);

// Creates the object exclusively, sizes it to size bytes (zero-filled) and maps it read-write.
// Returns the address, or nullptr with errno 183 when the object already exists (or the
// translated failure).
void *plat_ShmCreate(const char *name, uint64_t size);

// An existing object, opened but not yet mapped.
struct PlatShmObject {
    int fd = -1;
    uint64_t size = 0; // size of the object in bytes
};

// Opens an existing object read-write and reads its size; -1 with errno 2 when missing.
int plat_ShmOpen(const char *name, PlatShmObject *obj);

// Reads length bytes at offset without mapping; -1 when the object is shorter.
int plat_ShmReadAt(const PlatShmObject *obj, void *dest, uint64_t offset, uint64_t length);

// Maps length bytes of the object read-write (length must not exceed its size).
void *plat_ShmMap(const PlatShmObject *obj, uint64_t length);

// Closes the descriptor; a mapping made from it stays valid.
void plat_ShmClose(PlatShmObject *obj);

// Removes the name; processes that mapped it keep their mapping. -1 with errno 2 if missing.
int plat_ShmUnlink(const char *name);

// Removes every object of the current prefix ("/dev/shm/<prefix>.*"); returns the count.
int plat_ShmUnlinkAll();
