#include "ombra/platform/module.h"

#include <climits>
#include <cstdlib>

#include <dlfcn.h>

namespace ombra::platform {

Module* loadModule(const char* path, std::string& error)
{
    error.clear();
    if (!path || !*path) {
        error = "no library path";
        return nullptr;
    }
    // Kept for the life of the process: a component's threads may outlive it.
    void* h = ::dlopen(path, RTLD_NOW | RTLD_LOCAL | RTLD_NODELETE);
    if (!h) {
        const char* why = ::dlerror();
        error = why ? why : "cannot load library";
    }
    return static_cast<Module*>(h);
}

void* findSymbol(Module* module, const char* name)
{
    if (!module || !name) return nullptr;
    return ::dlsym(module, name);
}

std::string modulePathOf(const void* address)
{
    Dl_info info{};
    if (!address || ::dladdr(address, &info) == 0 || !info.dli_fname || !*info.dli_fname) return {};
    std::string name = info.dli_fname;
    // The main program may be reported by its bare name.
    if (name.find('/') == std::string::npos) name = "/proc/self/exe";
    char resolved[PATH_MAX];
    if (!::realpath(name.c_str(), resolved)) return {};
    return resolved;
}

}  // namespace ombra::platform
