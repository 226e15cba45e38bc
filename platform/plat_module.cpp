#include "plat_module.h"

#include "plat_error.h"

#include <dlfcn.h>

void *plat_ModuleLoad(const char *name) {
    if (name == nullptr || *name == '\0') {
        plat_Fail(WERR_MOD_NOT_FOUND);
        return nullptr;
    }
    // Each module keeps its symbols to itself, so two drivers' modules never meet.
    void *module = dlopen(name, RTLD_NOW | RTLD_LOCAL);
    if (module == nullptr) plat_Fail(WERR_MOD_NOT_FOUND);
    return module;
}

void *plat_ModuleSymbol(void *module, const char *symbol) {
    if (module == nullptr || symbol == nullptr) return nullptr;
    return dlsym(module, symbol);
}

void plat_ModuleFree(void *module) {
    if (module != nullptr) dlclose(module);
}

std::string plat_ModulePath(const void *address) {
    Dl_info info{};
    if (address == nullptr || dladdr(address, &info) == 0 || info.dli_fname == nullptr) return {};
    return info.dli_fname;
}
