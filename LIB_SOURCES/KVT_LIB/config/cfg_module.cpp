// The extension module of a device folder.
#include "cfg.h"
#include "cfg_internal.h"

#include "exdll.h"
#include "plat_module.h"
#include "txt.h"

#include <cctype>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <strings.h>

namespace {
// "calc12" and "opddx3" share the module of their stem.
std::string modulePrefix(const char *folder) {
    std::string prefix = cfg_DevicePrefix(folder);
    for (const char *stem : {"calc", "opddx"}) {
        size_t n = strlen(stem);
        if (prefix.size() > n && strncasecmp(prefix.c_str(), stem, n) == 0) {
            bool digits = true;
            for (size_t i = n; i < prefix.size(); ++i)
                digits = digits && isdigit(static_cast<unsigned char>(prefix[i]));
            if (digits) return prefix.substr(0, n);
        }
    }
    return prefix.substr(0, 5);
}

void *loadFromBin(const char *name) {
    const char *bin = getenv("KVT_BIN");
    if (bin == nullptr || *bin == '\0') return nullptr;
    return plat_ModuleLoad(cfg_Join(bin, name).c_str());
}

// The user module for a data process that DATPROC.TXT lists as not run.
void *loadUserModule(const char *folder, const std::string &prefix) {
    std::string path = cfg_Join(cfg_ParentFolder(folder).c_str(), "DATPROC.TXT");
    if (!cfg_FileExists(path)) return nullptr;
    if (txt_Open(path.c_str()) < 0) return nullptr;
    void *module = nullptr;
    char *fields[32];
    int offsets[32];
    for (;;) {
        int n = txt_NextLine(fields, offsets, 32);
        if (n <= 0) break;
        if (strncasecmp(fields[0], prefix.c_str(), 5) != 0) continue;
        ProcessorRecord record = {};
        if (txt_ParseProcessor(&record, fields, offsets, n, &record) == 1 && record.run == 0)
            module = loadFromBin(record.kind == 2 ? "usera_ex.so" : "userd_ex.so");
        break;
    }
    txt_Close();
    return module;
}

template <typename Fn>
void lookup(void *handle, Fn *slot, const char *name) {
    *slot = handle != nullptr ? exdll_Entry<Fn>(handle, name) : nullptr;
}

std::string g_lastFolder;
int g_lastDoXml = 0;
bool g_haveLast = false;
} // namespace

void *cfg_LoadExtensionDll(const char *folder) {
    std::string f = cfg_Folder(folder);
    std::string prefix = modulePrefix(f.c_str());
    int saved = errno;
    void *module = exdll_Load(prefix.c_str());
    if (module == nullptr) module = loadUserModule(f.c_str(), prefix);
    errno = saved;
    return module;
}

int cfg_HasDoXml(const char *folder) {
    std::string f = cfg_Folder(folder);
    if (g_haveLast && f == g_lastFolder) return g_lastDoXml;
    void *module = cfg_LoadExtensionDll(f.c_str());
    int answer = module != nullptr && exdll_Symbol(module, "Ex_DoXml") != nullptr ? 1 : 0;
    if (module != nullptr) exdll_Free(module);
    g_lastFolder = f;
    g_lastDoXml = answer;
    g_haveLast = true;
    return answer;
}

ExModule::ExModule(const char *folder) {
    handle = cfg_LoadExtensionDll(folder);
    lookup(handle, &doXml, "Ex_DoXml");
    lookup(handle, &getConfigType, "Ex_Get_Config_Type");
    lookup(handle, &decoratedConfigSize, "Ex_Decorated_Config_Size");
    lookup(handle, &decorateConfig, "Ex_Decorate_Config");
    lookup(handle, &undecorateConfig, "Ex_Undecorate_Config");
    lookup(handle, &getConfigExtraType, "Ex_Get_Config_Extra_Type");
    lookup(handle, &decorateConfigExtra, "Ex_Decorate_Config_Extra");
    lookup(handle, &undecorateConfigExtra, "Ex_Undecorate_Config_Extra");
    lookup(handle, &getConfigExtraFileOffset, "Ex_Get_Config_Extra_FileOffset");
    lookup(handle, &validateDevice, "Ex_Validate_Device");
    lookup(handle, &validateDeviceExtra, "Ex_Validate_Device_Extra");
    lookup(handle, &getChannelHwType, "Ex_Get_Channel_Hw_Type");
    lookup(handle, &decorateChannelHw, "Ex_Decorate_Channel_Hw");
    lookup(handle, &undecorateChannelHw, "Ex_Undecorate_Channel_Hw");
    lookup(handle, &getChannelExtraType, "Ex_Get_Channel_Extra_Type");
    lookup(handle, &getChannelExtraSize, "Ex_Get_Channel_Extra_Size");
    lookup(handle, &getChannelExtraStruct, "Ex_Get_Channel_Extra_Struct");
    lookup(handle, &decorateChannelExtra, "Ex_Decorate_Channel_Extra");
    lookup(handle, &undecorateChannelExtra, "Ex_Undecorate_Channel_Extra");
    lookup(handle, &validateChan, "Ex_Validate_Chan");
    lookup(handle, &validateChanExtra, "Ex_Validate_Chan_Extra");
    lookup(handle, &getMixedChannelType, "Ex_Get_Mixed_Channel_Type");
    lookup(handle, &validateChanWithConfig, "Ex_ValidateChanWithConfig");
}

ExModule::~ExModule() {
    if (handle != nullptr) exdll_Free(handle);
}
