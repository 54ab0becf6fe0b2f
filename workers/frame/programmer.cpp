#include "ombra/workers/programmer.h"

#include "ombra/platform/com.h"

namespace ombra::workers {

IUnknown* createProgrammer(REFCLSID clsid) {
    void* object = nullptr;
    if (FAILED(CoCreateInstance(clsid, nullptr, CLSCTX_INPROC_SERVER, kIidBurnixInitialization, &object)))
        return nullptr;
    return static_cast<IUnknown*>(object);
}

}  // namespace ombra::workers
