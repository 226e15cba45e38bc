// Change history (recent_history.txt in the configuration root) and the touch of the root's
// "config" that tells other processes the configuration changed.
#include "cfg.h"
#include "cfg_internal.h"

#include "chrec.h"
#include "plat_error.h"
#include "plat_file.h"
#include "plat_system.h"

#include <cctype>
#include <cerrno>
#include <cstdio>
#include <ctime>
#include <fcntl.h>
#include <unistd.h>

namespace {
constexpr size_t k_longestLine = 5000;

bool g_flagCached = false;
int g_flag = 0;

int g_historyFd = -1;
std::string g_object;

// The object of channel files of kind k - 1: ".<KIND>.Channels" when the device has channel
// files of another kind, else ".Channels".
std::string channelObject(const std::string &folder, int kindPlusOne) {
    bool xml = cfg_GetReadXml(folder.c_str()) && cfg_HasDoXml(folder.c_str());
    for (int kind : {0, 1, 2, 3, 4, 6}) {
        if (kind == kindPlusOne - 1) continue;
        std::string name = chrec_KindName(kind);
        if (xml) name += ".xml";
        if (cfg_FileExists(cfg_Join(folder.c_str(), name.c_str()))) {
            std::string upper = chrec_KindName(kindPlusOne - 1);
            for (char &c : upper)
                c = static_cast<char>(toupper(static_cast<unsigned char>(c)));
            return "." + upper + ".Channels";
        }
    }
    return ".Channels";
}
} // namespace

int cfg_GetHistoryFlag() {
    if (!g_flagCached) {
        int saved = errno;
        uint32_t savedLast = plat_GetLastError();
        std::string cwd = cfg_CurrentFolder();
        std::string root = cfg_IsConfigRoot(cwd.c_str()) ? cwd : cfg_ParentFolder(cwd.c_str());
        uint8_t first = 0;
        if (cfg_LoadDeviceConfigFrom(root.c_str(), &first, 1, nullptr, 0, nullptr) != 0) first = 0;
        g_flag = first;
        g_flagCached = true;
        errno = saved;
        plat_SetLastError(savedLast);
    }
    return g_flag;
}

void cfg_SetHistoryFlag(int value) {
    g_flag = value & 0xFF;
    g_flagCached = true;
}

void cfg_ForgetHistoryFlag() {
    g_flagCached = false;
}

int cfg_OpenHistoryIn(const char *folder, int kindPlusOne) {
    if (g_historyFd >= 0) return 1;
    std::string f = cfg_Folder(folder);
    std::string path;
    if (cfg_IsConfigRoot(f.c_str())) {
        g_object.clear();
        path = cfg_Join(f.c_str(), "recent_history.txt");
    } else {
        g_object = cfg_FolderName(f.c_str());
        if (g_object.find('_') != std::string::npos && kindPlusOne != 0)
            g_object += channelObject(f, kindPlusOne);
        path = cfg_Join(cfg_ParentFolder(f.c_str()).c_str(), "recent_history.txt");
    }
    // Appends from several processes never overwrite each other.
    g_historyFd = open(path.c_str(), O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC, 0666);
    return g_historyFd >= 0 ? 1 : 0;
}

int cfg_OpenHistory(int kindPlusOne) {
    return cfg_OpenHistoryIn(nullptr, kindPlusOne);
}

namespace {

// A tag, a text or a user name carries no separator of the history file's own: a CR, LF or tab
// inside one would start a field or a whole line that looks dated and signed by anyone.
std::string oneLineText(const char *text) {
    std::string out = text != nullptr ? text : "";
    for (char &c : out)
        if (c == '\r' || c == '\n' || c == '\t') c = ' ';
    return out;
}

} // namespace

void cfg_AppendHistory(const char *user, int channel, const char *field, const char *oldText,
                       const char *newText) {
    if (g_historyFd < 0) return;
    time_t now = time(nullptr);
    struct tm t;
    localtime_r(&now, &t);
    std::string who = oneLineText(user != nullptr ? user : plat_UserName().c_str());
    char head[64];
    snprintf(head, sizeof head, "%04d/%02d/%02d\t%02d:%02d:%02d\t", t.tm_year + 1900, t.tm_mon + 1,
             t.tm_mday, t.tm_hour, t.tm_min, t.tm_sec);
    std::string line =
        head + who + "\t" + oneLineText(g_object.c_str()) + (g_object.empty() ? "" : ".");
    if (channel != 0) line += std::to_string(channel) + ".";
    line +=
        oneLineText(field) + " " + oneLineText(oldText) + " -> " + oneLineText(newText) + "\r\n";
    if (line.size() > k_longestLine) return;
    size_t done = 0;
    while (done < line.size()) {
        ssize_t n = write(g_historyFd, line.data() + done, line.size() - done);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) break;
        done += static_cast<size_t>(n);
    }
}

void cfg_CloseHistory() {
    if (g_historyFd >= 0) close(g_historyFd);
    g_historyFd = -1;
    g_object.clear();
}

namespace {
// Opens the root's "config" for writing and reads its byte 0; rewrites it when asked.
int rootConfig(const char *folder, bool rewrite) {
    std::string path = cfg_Join(cfg_RootOf(folder).c_str(), "config");
    int fd = plat_FileOpen(path.c_str(), PLAT_FILE_READ_WRITE);
    if (fd < 0) return -1;
    uint8_t first = 0;
    int result = plat_FileReadAt(fd, &first, 1, 0);
    if (result == 0 && rewrite) result = plat_FileWriteAt(fd, &first, 1, 0);
    int err = errno;
    plat_FileClose(fd);
    errno = err;
    return result;
}
} // namespace

int cfg_TouchRootConfigOf(const char *folder) {
    return rootConfig(folder, true);
}

int cfg_RootConfigTouchable(const char *folder) {
    return rootConfig(folder, false);
}

int cfg_TouchRootConfig() {
    return cfg_TouchRootConfigOf(nullptr);
}
