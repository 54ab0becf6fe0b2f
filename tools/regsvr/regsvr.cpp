// regsvr [/s] [/u] LIBRARY...: runs a component library's DllRegisterServer
// (or, with /u, DllUnregisterServer). Exit status: 0 done, 1 bad command
// line, 3 library not loaded, 4 export missing, 5 the call failed.
#include "ombra/platform/com.h"
#include "ombra/platform/module.h"
#include "ombra/platform/unknown.h"

#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

namespace {

enum Exit { kOk = 0, kBadArgs = 1, kLoad = 3, kEntry = 4, kCall = 5 };

void usage()
{
    std::fputs("usage: regsvr [/s] [/u] LIBRARY...\n"
               "  /s  silent: print nothing on success\n"
               "  /u  unregister (DllUnregisterServer)\n"
               "  -s and -u are accepted too\n",
               stderr);
}

bool sameSwitch(const char* arg, char letter)
{
    return (arg[0] == '/' || arg[0] == '-') && (arg[1] == letter || arg[1] == letter - 'a' + 'A') && arg[2] == 0;
}

int run(const std::string& library, bool unregister, bool silent)
{
    const char* entry = unregister ? "DllUnregisterServer" : "DllRegisterServer";
    // A bare file name means this folder, never the loader's search path.
    std::string path = library.find('/') == std::string::npos ? "./" + library : library;
    std::string error;
    ombra::platform::Module* module = ombra::platform::loadModule(path.c_str(), error);
    if (!module) {
        std::fprintf(stderr, "regsvr: cannot load \"%s\": %s\n", library.c_str(), error.c_str());
        return kLoad;
    }
    auto fn = reinterpret_cast<DllRegisterServerFn>(ombra::platform::findSymbol(module, entry));
    if (!fn) {
        std::fprintf(stderr, "regsvr: \"%s\" was loaded, but its entry point %s was not found.\n", library.c_str(),
                     entry);
        return kEntry;
    }
    HRESULT hr = fn();
    if (FAILED(hr)) {
        std::fprintf(stderr, "regsvr: %s in \"%s\" failed with error 0x%08X.\n", entry, library.c_str(),
                     static_cast<unsigned>(hr));
        return kCall;
    }
    if (!silent) std::printf("%s in \"%s\" succeeded.\n", entry, library.c_str());
    return kOk;
}

}  // namespace

int main(int argc, char** argv)
{
    bool silent = false, unregister = false;
    std::vector<std::string> libraries;
    for (int i = 1; i < argc; ++i) {
        const char* a = argv[i];
        if (sameSwitch(a, 's'))
            silent = true;
        else if (sameSwitch(a, 'u'))
            unregister = true;
        else if ((a[0] == '/' || a[0] == '-') && a[1] != 0 && std::strchr(a, '.') == nullptr &&
                 std::strchr(a + 1, '/') == nullptr) {
            std::fprintf(stderr, "regsvr: unknown switch \"%s\"\n", a);
            usage();
            return kBadArgs;
        } else
            libraries.emplace_back(a);
    }
    if (libraries.empty()) {
        usage();
        return kBadArgs;
    }
    CoInitialize(nullptr);
    int status = kOk;
    for (const std::string& lib : libraries) {
        int r = run(lib, unregister, silent);
        if (status == kOk) status = r;
    }
    CoUninitialize();
    return status;
}
