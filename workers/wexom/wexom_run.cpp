#include "wexom/wexom.h"

#include "ombra/platform/com.h"
#include "ombra/workers/programmer.h"

namespace ombra::workers {

namespace {

constexpr Preparation kPreparation{nullptr, false, true, "failed to set initialize remote codes"};
constexpr RemoteCodeStep kRemoteCode{"requesting boot code",
                                     "failed to get identification boot code", false,
                                     "Detected that the cancel flag is raised"};

}  // namespace

RunResult Wexom::Run() {
    TraceText("Wexom::Run()");
    TraceText("Creating instance of programmer");
    IUnknown* face = prepareProgrammer(IID_IBurnix, kPreparation);
    if (face == nullptr) return FAILURE;
    IBurnix* burnix = asBurnix(face);

    if (m_earlierGeneration) {
        // The block's name is informative only: the component names itself.
        TraceText("querying programmer name");
        char* name = nullptr;
        HRESULT hr = E_FAIL;
        if (programmerName(face, true, &name, hr) && SUCCEEDED(hr) && name != nullptr) {
            TraceFormat("Programmer name = %s", name);
            SendTextF("Wexom: loading programmer \"%s\"", name);
        }
        CoTaskMemFree(name);
    } else {
        TraceFormat("Programmer name = %s", m_params.programmerName.c_str());
        SendTextF("Wexom: loading programmer \"%s\"", m_params.programmerName.c_str());
    }

    RunResult result = FAILURE;
    if (!startRemoteCode(
            face, kRemoteCode,
            [](IUnknown* f, BYTE** code, DWORD* address, WORD* size) {
                return asBurnix(f)->GetIdentificationBootCode(code, address, size);
            },
            result))
        return result;

    TraceText("setting callback pipe");
    if (FAILED(burnix->SetCallbackPipe(m_hOutputPipe))) return failWithStatus(face);
    TraceText("setting comm settings");
    if (FAILED(burnix->SetCommSettings(m_params.commDeviceName.c_str(), &m_params.dcb, &m_params.timeouts)))
        return failWithStatus(face);
    TraceText("setting termination flag");
    if (FAILED(burnix->SetTerminationFlag(m_hCancelEvent))) return failWithStatus(face);

    TraceText("calling IdentifyFlash");
    LONG index = -1;
    DeviceInfo* device = nullptr;
    const HRESULT hr = burnix->IdentifyFlash(&index, &device);
    freeDeviceInfo(device);
    m_deviceIndex = index;
    if (FAILED(hr)) return endOperation(face);
    face->Release();
    m_successValue = static_cast<DWORD>(m_deviceIndex);
    return SUCCESS;
}

}  // namespace ombra::workers
