// A private registry store and scratch folder for one test program, removed afterwards.
#pragma once

#include <cstdlib>
#include <ftw.h>
#include <string>
#include <unistd.h>

class TempFolder {
public:
    TempFolder() {
        char pattern[] = "/tmp/kvt-test-XXXXXX";
        const char *made = mkdtemp(pattern);
        path_ = made != nullptr ? made : "/tmp";
    }
    ~TempFolder() {
        if (path_ != "/tmp") removeTree(path_);
    }
    static void removeTree(const std::string &path) {
        nftw(path.c_str(), removeEntry, 16, FTW_DEPTH | FTW_PHYS);
    }
    TempFolder(const TempFolder &) = delete;
    TempFolder &operator=(const TempFolder &) = delete;
    const std::string &path() const { return path_; }
    std::string operator/(const std::string &name) const { return path_ + "/" + name; }

private:
    static int removeEntry(const char *p, const struct stat *, int, struct FTW *) {
        ::remove(p);
        return 0;
    }
    std::string path_;
};

// Points KVT_REGISTRY_ROOT at "<scratch>/registry"; the volatile tree is beside it.
class TempRegistry {
public:
    TempRegistry() {
        root_ = folder_ / "registry";
        setenv("KVT_REGISTRY_ROOT", root_.c_str(), 1);
    }
    ~TempRegistry() { unsetenv("KVT_REGISTRY_ROOT"); }
    const std::string &root() const { return root_; }
    std::string volatileRoot() const { return root_ + ".volatile"; }
    const TempFolder &folder() const { return folder_; }
    // What a restart does to the store.
    void dropVolatileKeys() const { TempFolder::removeTree(volatileRoot()); }

private:
    TempFolder folder_;
    std::string root_;
};
