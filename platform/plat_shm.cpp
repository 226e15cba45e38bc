#include "plat_shm.h"

#include "plat_error.h"
#include "plat_system.h"

#include <cerrno>
#include <dirent.h>
#include <fcntl.h>
#include <string>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

std::string plat_ShmObjectName(const char *name) {
    return "/" + plat_IpcPrefix() + "." + (name != nullptr ? name : "");
}

void *plat_ShmCreate(const char *name, uint64_t size) {
    std::string path = plat_ShmObjectName(name);
    int fd = shm_open(path.c_str(), O_RDWR | O_CREAT | O_EXCL, 0666);
    if (fd < 0) {
        plat_FailFromPosix();
        return nullptr;
    }
    // Mode after creation: the umask must not narrow who can open the object.
    if (fchmod(fd, 0666) != 0 || ftruncate(fd, static_cast<off_t>(size)) != 0) {
        int e = errno;
        close(fd);
        shm_unlink(path.c_str());
        plat_Fail(plat_WinErrorFromPosix(e));
        return nullptr;
    }
    void *base = mmap(nullptr, size, PROT_READ | PROT_WRITE, MAP_SHARED, fd, 0);
    int e = errno;
    close(fd);
    if (base == MAP_FAILED) {
        shm_unlink(path.c_str());
        plat_Fail(plat_WinErrorFromPosix(e));
        return nullptr;
    }
    return base;
}

int plat_ShmOpen(const char *name, PlatShmObject *obj) {
    obj->fd = -1;
    obj->size = 0;
    int fd = shm_open(plat_ShmObjectName(name).c_str(), O_RDWR, 0);
    if (fd < 0) return plat_FailFromPosix();
    struct stat st;
    if (fstat(fd, &st) != 0) {
        int e = errno;
        close(fd);
        return plat_Fail(plat_WinErrorFromPosix(e));
    }
    obj->fd = fd;
    obj->size = static_cast<uint64_t>(st.st_size);
    return 0;
}

int plat_ShmReadAt(const PlatShmObject *obj, void *dest, uint64_t offset, uint64_t length) {
    if (obj->fd < 0 || offset > obj->size || length > obj->size - offset)
        return plat_Fail(WERR_HANDLE_EOF);
    ssize_t got = pread(obj->fd, dest, length, static_cast<off_t>(offset));
    if (got < 0) return plat_FailFromPosix();
    if (static_cast<uint64_t>(got) != length) return plat_Fail(WERR_HANDLE_EOF);
    return 0;
}

void *plat_ShmMap(const PlatShmObject *obj, uint64_t length) {
    if (obj->fd < 0 || length == 0 || length > obj->size) {
        plat_Fail(WERR_INVALID_PARAMETER);
        return nullptr;
    }
    void *base = mmap(nullptr, length, PROT_READ | PROT_WRITE, MAP_SHARED, obj->fd, 0);
    if (base == MAP_FAILED) {
        plat_FailFromPosix();
        return nullptr;
    }
    return base;
}

void plat_ShmClose(PlatShmObject *obj) {
    if (obj->fd >= 0) close(obj->fd);
    obj->fd = -1;
}

int plat_ShmUnlink(const char *name) {
    if (shm_unlink(plat_ShmObjectName(name).c_str()) != 0) return plat_FailFromPosix();
    return 0;
}

int plat_ShmUnlinkAll() {
    std::string start = plat_IpcPrefix() + ".";
    std::vector<std::string> names;
    if (DIR *dir = opendir("/dev/shm")) {
        while (struct dirent *e = readdir(dir)) {
            std::string n = e->d_name;
            if (n.compare(0, start.size(), start) == 0) names.push_back(n);
        }
        closedir(dir);
    }
    int removed = 0;
    for (const std::string &n : names)
        if (shm_unlink(("/" + n).c_str()) == 0) ++removed;
    return removed;
}
