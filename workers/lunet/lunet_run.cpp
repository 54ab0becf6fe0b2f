#include "lunet/lunet.h"

#include "ombra/workers/programmer.h"

namespace ombra::workers {

RunResult Lunet::Run() {
    TraceText("Inside Lunet::Run()");
    TraceText("Creating instance of programmer");
    IUnknown* programmer = createProgrammer(m_params.programmerClsid);
    if (programmer == nullptr) {
        TraceText("Failed to create programmer instance");
        return FAILURE;
    }
    // The operation follows once the programmer's interfaces are declared;
    // until then a created programmer is let go and the run fails.
    programmer->Release();
    return FAILURE;
}

}  // namespace ombra::workers
