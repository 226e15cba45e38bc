// The channels the web HMI's dashboards show: the run list keeps only these in its compact caches.
#include "dbg.h"
#include "env.h"
#include "lgr_server.h"
#include "lgr_server_internal.h"
#include "plat_error.h"
#include "plat_file.h"
#include "reg.h"

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <strings.h>
#include <sys/stat.h>

namespace {

bool fileExists(const std::string &path) {
    struct stat st;
    return stat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode);
}

// The WEBHMI file beside the LOGGED_DATA level of the folder, else the one in KVT_WEBHMI's
// folder. relative is the path below WEBHMI ("menu.xml", "DASHBOARDS/<name>").
std::string webHmiPath(const std::string &folder, const std::string &relative) {
    std::vector<std::string> parts;
    size_t at = 0;
    while (at <= folder.size()) {
        size_t sep = folder.find_first_of("\\/", at);
        if (sep == std::string::npos) sep = folder.size();
        parts.push_back(folder.substr(at, sep - at));
        at = sep + 1;
    }
    for (size_t i = parts.size(); i-- > 0;) {
        if (strncasecmp(parts[i].c_str(), "LOGGED_DATA", 11) != 0) continue;
        std::string path;
        for (size_t k = 0; k < i; ++k)
            path += parts[k] + "/";
        path += "WEBHMI/" + relative;
        if (fileExists(path)) return path;
    }
    return env_GetFolder("KVT_WEBHMI") + "/" + relative;
}

// The text between open and close tags found inside [from, to); "" when missing.
std::string element(const char *from, const char *to, const char *open, const char *close) {
    const char *a = strstr(from, open);
    if (a == nullptr || a >= to) return "";
    a += strlen(open);
    const char *b = strstr(a, close);
    if (b == nullptr || b > to) return "";
    return std::string(a, b);
}

} // namespace

int lgr_ReadWholeFile(const char *path, std::string *text) {
    text->clear();
    int fd = plat_FileOpen(path, PLAT_FILE_READ);
    if (fd < 0) return -1;
    int64_t size = plat_FileSize(fd);
    int rc = -1;
    if (size >= 0) {
        // The spare byte keeps every search of the text inside it.
        text->assign(static_cast<size_t>(size), '\0');
        rc = plat_FileReadAt(fd, text->data(), static_cast<size_t>(size), 0);
    }
    uint32_t error = plat_GetLastError();
    plat_FileClose(fd);
    if (rc != 0) {
        text->clear();
        errno = static_cast<int>(error);
        plat_SetLastError(error);
        return -1;
    }
    return 0;
}

int CLogRequestServer::LoadDashboardChannels() {
    std::string menuPath = webHmiPath(folder_[0], "menu.xml");
    std::string menu;
    if (lgr_ReadWholeFile(menuPath.c_str(), &menu) != 0) {
        dbg_Printf("Can't read menu file %s to determine number of WebHMIChannels\r\n",
                   menuPath.c_str());
        return -1;
    }
    bool lumbrel = reg_IsLumbrelEdition() != 0;
    for (const char *item = strstr(menu.c_str(), "<Item"); item != nullptr;
         item = strstr(item + 5, "<Item")) {
        const char *open = strchr(item, '>');
        if (open == nullptr) break;
        const char *close = strchr(open + 1, '<');
        if (close == nullptr) break;
        std::string name(open + 1, close);
        std::string path = webHmiPath(folder_[0], "DASHBOARDS/" + name);
        std::string dashboard;
        if (lgr_ReadWholeFile(path.c_str(), &dashboard) != 0) {
            dbg_Printf("Can't read dashboard %s to determine number of WebHMIChannels\r\n",
                       name.c_str());
            continue;
        }
        for (const char *tags : {"XChannel", "channel"}) {
            if (lumbrel && strcmp(tags, "XChannel") == 0) continue;
            std::string open = std::string("<") + tags, close = std::string("</") + tags + ">";
            for (const char *at = strstr(dashboard.c_str(), open.c_str()); at != nullptr;) {
                const char *end = strstr(at, close.c_str());
                if (end == nullptr) break;
                std::string prefix = element(at, end, "<prefix>", "</prefix>");
                std::string number = element(at, end, "<no>", "</no>");
                long long n = 0;
                if (!prefix.empty() && !number.empty() && sscanf(number.c_str(), "%lld", &n) == 1 &&
                    n != 0) {
                    // A number no code can carry keeps its place as number 0, which no block
                    // holds, so it reads as no value instead of as some other channel.
                    bool fits = n > 0 && n <= UINT16_MAX;
                    ChannelCode code{{prefix[0], prefix.size() > 1 ? prefix[1] : '\0'},
                                     static_cast<uint16_t>(fits ? n : 0)};
                    if (!fits || std::none_of(dashboard_.begin(), dashboard_.end(),
                                              [&](const ChannelCode &c) {
                                                  return lgr_CompareChannelCodes(c, code) == 0;
                                              }))
                        dashboard_.push_back(code);
                }
                at = strstr(end, open.c_str());
            }
        }
    }
    if (dashboard_.empty())
        dbg_Printf("No WebHMIChannels for %s\r\n", folder_[0].c_str());
    else
        dbg_Printf("%d WebHMIChannels for %s\r\n", static_cast<int>(dashboard_.size()),
                   folder_[0].c_str());
    std::sort(dashboard_.begin(), dashboard_.end(), [](const ChannelCode &a, const ChannelCode &b) {
        return lgr_CompareChannelCodes(a, b) < 0;
    });
    return 0;
}

void CLogRequestServer::AddRequestedChannels(const char *list) {
    if (list == nullptr) return;
    bool added = false;
    for (const Group &g : lgr_detail::ParseChannelList(list, strlen(list)))
        for (int n : g.numbers) {
            ChannelCode code{{g.prefix[0], g.prefix[1]}, static_cast<uint16_t>(n)};
            if (!store_[0] || FindBlock(header_[0], g.prefix, n) < 0) continue;
            if (std::any_of(dashboard_.begin(), dashboard_.end(), [&](const ChannelCode &c) {
                    return lgr_CompareChannelCodes(c, code) == 0;
                }))
                continue;
            dashboard_.push_back(code);
            added = true;
        }
    if (!added) return;
    for (auto &entry : runs_)
        if (entry->compact) {
            entry->cache.clear();
            entry->cached = 0;
            entry->compact = false;
        }
    runListFresh_ = false;
}
