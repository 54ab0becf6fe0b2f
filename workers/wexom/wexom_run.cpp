#include "wexom/wexom.h"

#include "ombra/workers/programmer.h"

namespace ombra::workers {

RunResult Wexom::Run() {
    TraceText("Wexom::Run()");
    TraceText("Creating instance of programmer");
    IUnknown* programmer = createProgrammer(m_params.programmerClsid);
    if (programmer == nullptr) {
        return FAILURE;
    }
    // The operation follows once the programmer's interfaces are declared;
    // until then a created programmer is let go and the run fails.
    programmer->Release();
    return FAILURE;
}

}  // namespace ombra::workers
