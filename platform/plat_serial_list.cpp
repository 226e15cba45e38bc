#include "plat_serial.h"

#include "plat_error.h"

#include <algorithm>
#include <cstdlib>
#include <dirent.h>
#include <string>
#include <sys/stat.h>
#include <vector>

namespace {

// Names of a folder's entries other than "." and ".."; false when it cannot be listed.
bool ListFolder(const std::string &folder, std::vector<std::string> &names) {
    DIR *dir = opendir(folder.c_str());
    if (dir == nullptr) return false;
    while (dirent *e = readdir(dir)) {
        std::string name = e->d_name;
        if (name != "." && name != "..") names.push_back(name);
    }
    closedir(dir);
    return true;
}

// n of "ttyS<n>", or -1.
long TtySNumber(const std::string &name) {
    if (name.size() < 5 || name.compare(0, 4, "ttyS") != 0) return -1;
    for (size_t i = 4; i < name.size(); ++i)
        if (name[i] < '0' || name[i] > '9') return -1;
    return strtol(name.c_str() + 4, nullptr, 10);
}

} // namespace

int plat_SerialEnumPorts(std::vector<std::string> &names) {
    names.clear();
    bool listed = false;
    const char *dir = getenv("KVT_SERIAL_DIR");
    if (dir != nullptr && dir[0] != '\0') {
        std::vector<std::string> entries;
        if (ListFolder(dir, entries)) {
            listed = true;
            std::sort(entries.begin(), entries.end());
            names.insert(names.end(), entries.begin(), entries.end());
        }
    }
    // The kernel makes ttyS0..ttyS31 whether or not a UART is there; a device link tells.
    std::vector<std::string> ttys;
    if (ListFolder("/sys/class/tty", ttys)) {
        listed = true;
        std::vector<long> numbers;
        for (const std::string &t : ttys) {
            long n = TtySNumber(t);
            struct stat st;
            if (n >= 0 && stat(("/sys/class/tty/" + t + "/device").c_str(), &st) == 0)
                numbers.push_back(n);
        }
        std::sort(numbers.begin(), numbers.end());
        for (long n : numbers)
            names.push_back("COM" + std::to_string(n + 1));
    }
    if (!listed) return plat_Fail(WERR_PATH_NOT_FOUND);
    return static_cast<int>(names.size());
}
