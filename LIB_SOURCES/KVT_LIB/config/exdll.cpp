#include "exdll.h"

#include "plat_error.h"
#include "plat_module.h"

#include <cctype>
#include <cerrno>
#include <cstdlib>
#include <cstring>

namespace {
// Folder of the suite's programs and modules.
std::string binFolder() {
    const char *bin = getenv("KVT_BIN");
    return bin != nullptr ? bin : "";
}

void *loadByName(const std::string &name) {
    void *module = plat_ModuleLoad(name.c_str());
    if (module != nullptr) return module;
    std::string bin = binFolder();
    if (bin.empty()) return nullptr;
    if (bin.back() != '/' && bin.back() != '\\') bin += '/';
    return plat_ModuleLoad((bin + name).c_str());
}
} // namespace

std::string exdll_ModuleName(const char *prefix) {
    std::string name(prefix != nullptr ? prefix : "");
    if (name.size() > 5) name.resize(5);
    return name + "_ex.so";
}

void *exdll_Load(const char *prefix) {
    std::string name = exdll_ModuleName(prefix);
    void *module = loadByName(name);
    if (module != nullptr) return module;
    std::string upper = name.substr(0, name.size() - 6);
    for (char &c : upper)
        c = static_cast<char>(toupper(static_cast<unsigned char>(c)));
    upper += "_ex.so";
    if (upper != name) module = loadByName(upper);
    if (module == nullptr) plat_Fail(WERR_MOD_NOT_FOUND);
    return module;
}

void *exdll_Symbol(void *module, const char *name) {
    return plat_ModuleSymbol(module, name);
}

void exdll_Free(void *module) {
    plat_ModuleFree(module);
}

void exdll_BeginText(char *buffer, int size) {
    if (buffer != nullptr && size > 0) memset(buffer, 0, static_cast<size_t>(size));
}

void exdll_EndText(char *buffer, int size) {
    if (buffer != nullptr && size > 0) buffer[size - 1] = '\0';
}

int exdll_TakeBlock(ExBuffer *buffer, void *target, int targetSize) {
    if (buffer == nullptr || buffer->owned == 0 || buffer->data == nullptr || buffer->size < 0)
        return -1;
    int copied = buffer->size < targetSize ? buffer->size : targetSize;
    if (copied < 0) copied = 0;
    if (target != nullptr && buffer->data != target && copied > 0)
        memmove(target, buffer->data, static_cast<size_t>(copied));
    if (buffer->data != target) free(buffer->data);
    buffer->data = target;
    buffer->size = copied;
    buffer->owned = 0;
    return copied;
}

int exdll_GetConfigPort(const char *prefix, void *slot, char *text, int size) {
    exdll_BeginText(text, size);
    void *module = exdll_Load(prefix);
    if (module == nullptr) return -1;
    auto entry = exdll_Entry<Ex_Get_Config_Port_fn>(module, "Ex_Get_Config_Port");
    int result = -1;
    if (entry != nullptr) {
        // The entry point is told 20 characters, so the caller's buffer must hold them.
        char port[20] = {};
        entry(slot, sizeof port, port);
        exdll_EndText(port, sizeof port);
        if (text != nullptr && size > 0) {
            strncpy(text, port, static_cast<size_t>(size) - 1);
            text[size - 1] = '\0';
        }
        result = 0;
    } else {
        errno = 0;
    }
    exdll_Free(module);
    return result;
}
