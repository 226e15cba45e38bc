#include "prog.h"

#include "cfg.h"
#include "dbg.h"
#include "env.h"
#include "plat_error.h"
#include "plat_folder.h"
#include "plat_spawn.h"
#include "reg.h"

#include <cerrno>
#include <cstring>
#include <string>
#include <strings.h>
#include <unistd.h>
#include <vector>

namespace {

// tar's own note for members named "../...": it stores them without the "../" and says so.
constexpr char k_tarNote[] = "tar: Removing leading ";

bool endsWithNoCase(const std::string &text, const char *tail) {
    size_t n = strlen(tail);
    return text.size() >= n && strcasecmp(text.c_str() + text.size() - n, tail) == 0;
}

std::string unquoted(const char *path) {
    std::string p = path;
    if (!p.empty() && p.front() == '"') p.erase(0, 1);
    if (!p.empty() && p.back() == '"') p.pop_back();
    return p;
}

std::string join(const char *folder, const char *name) {
    std::string path = folder;
    if (!path.empty() && path.back() != '/' && path.back() != '\\') path += '/';
    return path + name;
}

std::string absolute(const std::string &path, const std::string &from) {
    if (!path.empty() && (path[0] == '/' || path[0] == '\\')) return path;
    return join(from.c_str(), path.c_str());
}

// The file part (after the last '/' or '\') with its last extension made ".tar".
std::string tarFileName(const std::string &path) {
    size_t sep = path.find_last_of("/\\");
    std::string file = sep == std::string::npos ? path : path.substr(sep + 1);
    size_t dot = file.rfind('.');
    if (dot != std::string::npos) file.erase(dot);
    return file + ".tar";
}

std::vector<std::string> split(const std::string &list) {
    std::vector<std::string> names;
    size_t start = 0;
    while (start <= list.size()) {
        size_t end = list.find(';', start);
        if (end == std::string::npos) end = list.size();
        if (end > start) names.push_back(list.substr(start, end - start));
        start = end + 1;
    }
    return names;
}

bool productStarts(const char *prefix) {
    return strncasecmp(reg_GetProductName().c_str(), prefix, strlen(prefix)) == 0;
}

// The folders saved with the flag; "ExtraSaveDirs" replaces the default.
std::vector<std::string> extraSaveList(bool withReplayOptions) {
    char value[4096] = {};
    uint32_t type = 0;
    uint32_t size = sizeof value - 1;
    if (reg_AccessValue(PLAT_HKEY_LOCAL_MACHINE, REG_PRODUCT_KEY, PLAT_KEY_QUERY_VALUE,
                        "ExtraSaveDirs", &type, value, &size) == 0 &&
        (type == PLAT_REG_SZ || type == PLAT_REG_EXPAND_SZ)) {
        value[size < sizeof value ? size : sizeof value - 1] = '\0';
        return split(value);
    }
    const bool vorn = productStarts("VORN");
    const bool fenlo = productStarts("FENLO");
    const bool lumbrel = productStarts("LUMBREL");
    std::string list = withReplayOptions ? "REPLAY_OPTIONS" : "";
    if (vorn || fenlo || lumbrel) list += ";CMONITORS;TRENDS";
    if (lumbrel) list += ";MONITORS;AMONITORS";
    if (vorn || fenlo) list += ";MONPICLIB;DATA_IMP";
    if (lumbrel) list += ";WEBHMI";
    return split(list);
}

// The folder packed, its parent and the names of its existing siblings to add.
struct Packing {
    std::string folder;
    std::string parent;
    std::vector<std::string> siblings;
};

Packing packing(const std::string &folder, int flag, bool withReplayOptions) {
    Packing p;
    p.folder = folder;
    p.parent = cfg_ParentFolder(folder.c_str());
    std::vector<std::string> names = {"SAVED_VALUES", "REPLAY_OPTIONS"};
    if (flag != 0)
        for (const std::string &name : extraSaveList(withReplayOptions))
            names.push_back(name);
    for (const std::string &name : names)
        if (plat_FolderExists(join(p.parent.c_str(), name.c_str()).c_str()))
            p.siblings.push_back(name);
    return p;
}

// True when tar's error output holds anything but its notes on leading "../".
bool tarComplained(const std::string &errors) {
    size_t start = 0;
    while (start < errors.size()) {
        size_t end = errors.find('\n', start);
        if (end == std::string::npos) end = errors.size();
        if (errors.compare(start, sizeof k_tarNote - 1, k_tarNote) != 0) return true;
        start = end + 1;
    }
    return false;
}

// Runs a program and traces what it printed. Its exit code, or -1 (errno set) when it could
// not start.
int run(const std::vector<std::string> &argv, const PlatSpawnOptions &options,
        std::string *output) {
    int status = 0;
    if (plat_SpawnAndWait(argv, options, &status, output) != 0) {
        int err = errno;
        dbg_Printf("%s: cannot start, error %d\n", argv[0].c_str(), err);
        errno = err;
        return -1;
    }
    return status;
}

int tarWriter(const std::string &path, bool savedConfig, int flag, const std::string &folder,
              const std::string &cwd) {
    std::string tarFile = path;
    if (savedConfig) {
        std::string saved = env_GetFolder("KVT_SAVED_CONFIG");
        if (saved.empty()) return plat_Fail(WERR_PATH_NOT_FOUND);
        tarFile = join(absolute(saved, cwd).c_str(), tarFileName(path).c_str());
    }
    Packing p = packing(folder, flag, true);
    std::vector<std::string> argv = {"tar", "-cf", tarFile, "."};
    for (const std::string &name : p.siblings)
        argv.push_back("../" + name);

    PlatSpawnOptions options;
    options.pipedDescriptor = 2;
    // tar's messages in the words tarComplained knows.
    options.environment = {"LC_ALL=C"};
    options.folder = folder;
    std::string errors;
    int status = run(argv, options, &errors);
    if (status < 0) return -1;
    if (!errors.empty()) dbg_WriteTrace(errors.c_str());
    if (status != 0 || tarComplained(errors)) {
        unlink(tarFile.c_str());
        return plat_Fail(status != 0 ? static_cast<uint32_t>(status) : WERR_GEN_FAILURE);
    }
    if (!savedConfig) return 0;

    options.pipedDescriptor = 1;
    options.environment.clear();
    std::string output;
    status = run({"compress", tarFile, path}, options, &output);
    int err = errno;
    if (!output.empty()) dbg_WriteTrace(output.c_str());
    unlink(tarFile.c_str());
    if (status < 0) return plat_Fail(static_cast<uint32_t>(err));
    if (status != 0) return plat_Fail(static_cast<uint32_t>(status));
    return 0;
}

int tbzipPacker(const std::string &path, int flag, const std::string &folder) {
    Packing p = packing(folder, flag, false);
    std::vector<std::string> argv = {join(env_GetFolder("KVT_BIN").c_str(), "tbzip"), "-a", "-r",
                                     path, folder};
    for (const std::string &name : p.siblings)
        argv.push_back(join(p.parent.c_str(), name.c_str()));
    PlatSpawnOptions options;
    options.pipedDescriptor = 1;
    options.folder = folder;
    std::string output;
    int status = run(argv, options, &output);
    if (status < 0) return -1;
    if (!output.empty()) dbg_WriteTrace(output.c_str());
    if (status != 0) return plat_Fail(static_cast<uint32_t>(status));
    return 0;
}

} // namespace

int prog_ArchiveFolder(const char *archivePath, const char *folder, int flag) {
    if (archivePath == nullptr) return plat_Fail(WERR_INVALID_PARAMETER);
    std::string path = unquoted(archivePath);
    if (path.empty()) return plat_Fail(WERR_INVALID_PARAMETER);
    const std::string cwd = cfg_CurrentFolder();
    // Children start elsewhere: every path they get is absolute.
    path = absolute(path, cwd);
    std::string packed = folder != nullptr && *folder != '\0' ? absolute(folder, cwd) : cwd;
    if (endsWithNoCase(path, ".kvt")) return tarWriter(path, true, flag, packed, cwd);
    if (endsWithNoCase(path, ".tar")) return tarWriter(path, false, flag, packed, cwd);
    return tbzipPacker(path, flag, packed);
}
