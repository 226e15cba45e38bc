#include "lgr_site.h"

#include "env.h"
#include "lfile.h"
#include "plat_error.h"
#include "plat_profile.h"
#include "plat_registry.h"
#include "pwenc.h"
#include "reg.h"
#include "srv.h"

#include <cerrno>
#include <clocale>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <mutex>

namespace {
std::mutex g_settingsLock;
bool g_counted = false;
std::vector<std::string> g_assetTerms;
std::vector<std::string> g_loggerDirs;

std::vector<std::string> defaultAssetTerms() {
    return {"FIELD", "WELL"};
}

std::vector<std::string> defaultLoggerDirs() {
    if (reg_IsLumbrelEdition()) return {"SLOW_LOG", "FAST_LOG"};
    return {""};
}

// One text value of the site key: true with the value, false when it cannot be read there.
bool readSetting(const char *server, const char *name, uint32_t capacity, std::string *value) {
    if (server != nullptr && *server != '\0' && !srv_IsLocal(server)) {
        PlatHKey remote;
        std::string machine =
            server[0] == '\\' && server[1] == '\\' ? server : std::string("\\\\") + server;
        if (plat_RegConnectRegistry(machine.c_str(), PLAT_HKEY_LOCAL_MACHINE, &remote) != 0)
            return false;
    }
    std::string buffer(capacity, '\0');
    uint32_t type = 0, size = capacity;
    if (reg_AccessValue(PLAT_HKEY_LOCAL_MACHINE, lgr_SiteKey().c_str(), PLAT_KEY_QUERY_VALUE, name,
                        &type, buffer.data(), &size) != 0)
        return false;
    if (type != PLAT_REG_SZ && type != PLAT_REG_EXPAND_SZ) return false;
    buffer.resize(size < capacity ? size : capacity);
    size_t nul = buffer.find('\0');
    if (nul != std::string::npos) buffer.resize(nul);
    *value = buffer;
    return true;
}

// Values NAME_1, NAME_2, ... each at most 16 bytes, a missing one taking its default, up to the
// first that has neither.
std::vector<std::string> countValues(const char *name, const std::vector<std::string> &defaults) {
    std::vector<std::string> out;
    for (int k = 1;; ++k) {
        char key[32];
        snprintf(key, sizeof key, "%s_%d", name, k);
        std::string v;
        if (!readSetting(nullptr, key, 16, &v)) {
            if (static_cast<size_t>(k) > defaults.size()) break;
            v = defaults[static_cast<size_t>(k) - 1];
        }
        out.push_back(v);
    }
    return out;
}

void ensureCounted() {
    if (g_counted) return;
    g_assetTerms = countValues("ASSET_TERM", defaultAssetTerms());
    g_loggerDirs = countValues("LOGGER_DIR", defaultLoggerDirs());
    g_counted = true;
}

std::string withSlashes(const char *path) {
    std::string p(path != nullptr ? path : "");
    for (char &c : p)
        if (c == '\\') c = '/';
    while (p.size() > 1 && p.back() == '/')
        p.pop_back();
    return p;
}

std::string iniOf(const std::string &folder) {
    return folder + "/" LGR_SITE_FILE;
}

// Numbers in site files are written and read in the C locale whatever the process uses.
class CLocale {
public:
    CLocale() : c_(newlocale(LC_NUMERIC_MASK, "C", nullptr)) {
        if (c_ != nullptr) old_ = uselocale(c_);
    }
    ~CLocale() {
        if (c_ != nullptr) {
            uselocale(old_);
            freelocale(c_);
        }
    }
    CLocale(const CLocale &) = delete;
    CLocale &operator=(const CLocale &) = delete;

private:
    locale_t c_;
    locale_t old_ = nullptr;
};

bool startsNoCase(const char *text, const char *prefix) {
    for (; *prefix != '\0'; ++text, ++prefix) {
        char a = *text >= 'a' && *text <= 'z' ? static_cast<char>(*text - 32) : *text;
        if (a != *prefix) return false;
    }
    return true;
}

// The "[POSITION]" values of one settings file that are still missing.
void readPosition(const std::string &ini, bool *haveLat, float *lat, bool *haveLon, float *lon) {
    char list[4096];
    uint32_t n = plat_GetPrivateProfileSection("POSITION", list, sizeof list, ini.c_str());
    CLocale c;
    for (uint32_t i = 0; i < n && list[i] != '\0';
         i += static_cast<uint32_t>(strlen(list + i)) + 1) {
        const char *line = list + i;
        const char *eq = strchr(line, '=');
        if (eq == nullptr) continue;
        if (!*haveLat && startsNoCase(line, "LAT")) {
            *lat = strtof(eq + 1, nullptr);
            *haveLat = true;
        } else if (!*haveLon && startsNoCase(line, "LON")) {
            *lon = strtof(eq + 1, nullptr);
            *haveLon = true;
        }
    }
}

std::string trim(const std::string &s) {
    size_t b = s.find_first_not_of(" \t\r\n");
    if (b == std::string::npos) return "";
    size_t e = s.find_last_not_of(" \t\r\n");
    return s.substr(b, e - b + 1);
}
} // namespace

std::string lgr_SiteKey() {
    std::string repl;
    for (char c : reg_GetReplicationProductName()) {
        if (c == ' ') continue;
        repl += c >= 'a' && c <= 'z' ? static_cast<char>(c - 32) : c;
    }
    if (repl.size() > 19) repl.resize(19);
    return std::string(REG_MAKER_KEY "\\") + reg_GetProductName() + "\\" + repl;
}

std::string lgr_GetSiteRoot(const char *server) {
    std::string root;
    if (readSetting(server, "ROOT", 260, &root)) return root;
    if (reg_IsLumbrelEdition()) return LGR_LUMBREL_SITE_ROOT;
    return env_ResolveFolder(reg_GetReplicationProductName().c_str());
}

std::string lgr_GetDefaultServer(const char *server) {
    std::string spec;
    if (readSetting(server, "DefaultServer", 1284, &spec)) return spec;
    const PwencLoggerAccount &account =
        PWENC_LOGGER_ACCOUNTS[reg_IsLumbrelEdition() ? PWENC_EDITION_LUMBREL : PWENC_EDITION_OTHER];
    return std::string(account.user) + "2:" PWENC_LOGGER_PASSWORD2 "@" LGR_REPLICATION_HOST;
}

int lgr_CountAssetTerms() {
    std::lock_guard<std::mutex> guard(g_settingsLock);
    ensureCounted();
    return static_cast<int>(g_assetTerms.size());
}

int lgr_CountLoggerDirs() {
    std::lock_guard<std::mutex> guard(g_settingsLock);
    ensureCounted();
    return static_cast<int>(g_loggerDirs.size());
}

const char *lgr_GetAssetTerm(int k) {
    std::lock_guard<std::mutex> guard(g_settingsLock);
    ensureCounted();
    if (k < 0 || static_cast<size_t>(k) >= g_assetTerms.size()) return nullptr;
    return g_assetTerms[static_cast<size_t>(k)].c_str();
}

const char *lgr_GetLoggerDir(int k) {
    std::lock_guard<std::mutex> guard(g_settingsLock);
    ensureCounted();
    if (k < 0 || static_cast<size_t>(k) >= g_loggerDirs.size()) return nullptr;
    return g_loggerDirs[static_cast<size_t>(k)].c_str();
}

int lgr_CountLevels() {
    return lgr_CountAssetTerms() + 4;
}

const char *lgr_GetLevelName(int k) {
    static const char *const kFixed[] = {"REGION", "COUNTRY", "CUSTOMER"};
    int terms = lgr_CountAssetTerms();
    if (k < 0 || k >= terms + 4) return nullptr;
    if (k < 3) return kFixed[k];
    if (k < 3 + terms) return lgr_GetAssetTerm(k - 3);
    return "DATA";
}

void lgr_ForgetSiteSettings() {
    std::lock_guard<std::mutex> guard(g_settingsLock);
    g_counted = false;
    g_assetTerms.clear();
    g_loggerDirs.clear();
}

bool lgr_SplitSitePath(const char *path, std::vector<std::string> *levels) {
    std::string root = withSlashes(lgr_GetSiteRoot().c_str());
    std::string p = withSlashes(path);
    if (root.empty() || p.compare(0, root.size(), root) != 0) return false;
    if (p.size() > root.size() && p[root.size()] != '/' && root != "/") return false;
    levels->clear();
    size_t pos = root.size();
    while (pos < p.size()) {
        if (p[pos] == '/') {
            ++pos;
            continue;
        }
        size_t next = p.find('/', pos);
        if (next == std::string::npos) next = p.size();
        levels->push_back(p.substr(pos, next - pos));
        pos = next;
    }
    return true;
}

int lgr_GetSitePosition(const char *path, float *latitude, float *longitude) {
    std::vector<std::string> levels;
    if (!lgr_SplitSitePath(path, &levels) || levels.empty()) return 0;
    int region = lgr_FindRegion(levels[0].c_str());
    if (region < 0) return 0;
    float lat, lon;
    lgr_GetRegionPosition(region, &lat, &lon);
    if (levels.size() > 1) lgr_GetCountryPosition(lgr_FindCountry(levels[1].c_str()), &lat, &lon);
    // information.ini from the customer folder upward overrides what the tables give.
    std::string root = withSlashes(lgr_GetSiteRoot().c_str());
    size_t depth = levels.size() < 3 ? levels.size() : 3;
    bool haveLat = false, haveLon = false;
    float iniLat = 0, iniLon = 0;
    for (size_t d = depth; d > 0 && !(haveLat && haveLon); --d) {
        std::string folder = root;
        for (size_t i = 0; i < d; ++i)
            folder += "/" + levels[i];
        readPosition(iniOf(folder), &haveLat, &iniLat, &haveLon, &iniLon);
    }
    if (haveLat) lat = iniLat;
    if (haveLon) lon = iniLon;
    if (latitude != nullptr) *latitude = lat;
    if (longitude != nullptr) *longitude = lon;
    return 1;
}

int lgr_GetSitePositionEx(const char *server, const char *path, float *latitude, float *longitude) {
    if (server == nullptr || *server == '\0' || srv_IsLocal(server))
        return lgr_GetSitePosition(path, latitude, longitude);
    // The request's fields are separated by commas; a path holding one cannot be sent.
    if (path == nullptr || strchr(path, ',') != nullptr) {
        errno = WERR_INVALID_PARAMETER;
        plat_SetLastError(WERR_INVALID_PARAMETER);
        return 0;
    }
    std::string request = std::string("LF,") + path + "," LGR_SITE_FILE;
    char reply[512] = {};
    int size = sizeof reply - 1;
    if (srv_Command(server, request.c_str(), reply, &size) < 0) return 0;
    reply[size >= 0 && size < static_cast<int>(sizeof reply) ? size : sizeof reply - 1] = '\0';
    if (strncmp(reply, "-1,", 3) == 0) return 0;
    const char *comma = strchr(reply, ',');
    CLocale c;
    if (latitude != nullptr) *latitude = static_cast<float>(atof(reply));
    if (longitude != nullptr)
        *longitude = comma != nullptr ? static_cast<float>(atof(comma + 1)) : 0;
    return 1;
}

int lgr_ReadSiteHeader(const char *path, char *buffer, int *size) {
    std::string root = withSlashes(lgr_GetSiteRoot().c_str());
    std::string folder = withSlashes(path);
    int capacity = size != nullptr ? *size : 0;
    for (;;) {
        int n = capacity;
        int lines = lfile_ReadSection(iniOf(folder).c_str(), "HEADER", buffer, &n);
        if (lines > 0) {
            if (size != nullptr) *size = n;
            return lines;
        }
        if (folder.size() <= root.size() || folder.compare(0, root.size(), root) != 0) break;
        size_t slash = folder.rfind('/');
        if (slash == std::string::npos || slash == 0) break;
        folder.resize(slash);
    }
    if (buffer != nullptr && capacity > 0) buffer[0] = '\0';
    if (size != nullptr) *size = 0;
    return 0;
}

int lgr_WriteSiteHeader(const char *folder, const char *text) {
    std::string ini = iniOf(withSlashes(folder));
    return lfile_ReplaceSection(ini.c_str(), "HEADER", text != nullptr ? text : "") == 1 ? 0 : -1;
}

int lgr_WriteSitePosition(const char *folder, float latitude, float longitude) {
    std::string ini = iniOf(withSlashes(folder));
    char lat[64], lon[64];
    {
        CLocale c;
        snprintf(lat, sizeof lat, "%f", static_cast<double>(latitude));
        snprintf(lon, sizeof lon, "%f", static_cast<double>(longitude));
    }
    if (!plat_WritePrivateProfileString("POSITION", "LATITUDE", lat, ini.c_str()) ||
        !plat_WritePrivateProfileString("POSITION", "LONGITUDE", lon, ini.c_str())) {
        errno = static_cast<int>(plat_GetLastError());
        return -1;
    }
    return 0;
}

int lgr_BuildSiteHeaderChannels(const char *path, const char *headerText,
                                std::vector<LgrHeaderChannel> *channels) {
    channels->clear();
    auto add = [&](const std::string &name, const std::string &text) {
        if (channels->size() >= LGR_MAX_HEADER_CHANNELS) return;
        LgrHeaderChannel ch;
        ch.name = name;
        ch.text = text;
        if (text.size() >= 4 && text.front() == '"' && text.back() == '"' &&
            (text.compare(1, 2, "%d") == 0 || text.compare(1, 2, "%f") == 0)) {
            CLocale c;
            ch.isNumber = true;
            ch.number = strtod(text.substr(3, text.size() - 4).c_str(), nullptr);
        }
        channels->push_back(ch);
    };
    std::vector<std::string> levels;
    if (path != nullptr && lgr_SplitSitePath(path, &levels)) {
        static const char *const kNames[] = {"Region", "Country", "Customer"};
        int terms = lgr_CountAssetTerms();
        for (size_t i = 0; i < levels.size(); ++i) {
            if (i < 3) {
                add(kNames[i], levels[i]);
                if (i == 2) add("Client", levels[i]);
            } else if (static_cast<int>(i) < 3 + terms) {
                add(lgr_GetAssetTerm(static_cast<int>(i) - 3), levels[i]);
                if (i == 4 && reg_IsLumbrelEdition()) add("WellNo", levels[i]);
            }
        }
    }
    const char *p = headerText != nullptr ? headerText : "";
    while (*p != '\0') {
        const char *end = p + strcspn(p, "\r\n");
        std::string line(p, end);
        size_t colon = line.find(':');
        if (colon != std::string::npos && !trim(line.substr(0, colon)).empty())
            add(trim(line.substr(0, colon)), trim(line.substr(colon + 1)));
        p = end + strspn(end, "\r\n");
    }
    return static_cast<int>(channels->size());
}

std::string lgr_MakeSiteCode(const char *path) {
    std::vector<std::string> levels;
    if (!lgr_SplitSitePath(path, &levels) || levels.empty() || levels[0].empty()) return "";
    std::string code(1, levels[0][0]);
    if (code[0] >= 'a' && code[0] <= 'z') code[0] = static_cast<char>(code[0] - 32);
    for (size_t i = 1; i < levels.size(); ++i)
        code += "_" + levels[i];
    return code;
}

std::string lgr_ParseSiteCode(const char *code) {
    std::string text(code != nullptr ? code : "");
    std::vector<std::string> parts;
    size_t pos = 0;
    for (;;) {
        size_t next = text.find('_', pos);
        parts.push_back(
            text.substr(pos, next == std::string::npos ? std::string::npos : next - pos));
        if (next == std::string::npos) break;
        pos = next + 1;
    }
    int region = parts[0].size() == 1 ? lgr_FindRegion(parts[0].c_str()) : -1;
    if (region < 0) {
        errno = WERR_INVALID_PARAMETER;
        return "";
    }
    // Country, customer and one level per asset term follow the region.
    size_t levels = static_cast<size_t>(lgr_CountAssetTerms()) + 2;
    std::string path = withSlashes(lgr_GetSiteRoot().c_str()) + "/" + lgr_GetRegionName(region);
    for (size_t i = 1; i < parts.size(); ++i)
        path += (i > levels ? "_" : "/") + parts[i];
    return path;
}
