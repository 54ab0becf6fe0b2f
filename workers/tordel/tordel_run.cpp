#include "tordel/tordel.h"

#include "ombra/platform/com.h"
#include "ombra/workers/programmer.h"

namespace ombra::workers {

namespace {

constexpr Preparation kPreparation{"Failed to create programmer instance", true, true,
                                               "failed to set initialize remote codes"};
constexpr RemoteCodeStep kRemoteCode{"Getting burning boot code", "failed to get burning boot code",
                                     true, "cancel flag is raised"};

}  // namespace

RunResult Tordel::Run() {
    TraceText("Inside Tordel::Run()");
    TraceText("Creating instance of programmer");
    IUnknown* face = prepareProgrammer(IID_IBurnixBurn, kPreparation);
    if (face == nullptr) return FAILURE;
    auto* burn = as<IBurnixBurn>(face);

    RunResult result = FAILURE;
    if (!startRemoteCode(
            face, kRemoteCode,
            [](IUnknown* f, BYTE** code, DWORD* address, WORD* size) {
                return as<IBurnixBurn>(f)->GetBurningBootCode(code, address, size);
            },
            result))
        return result;

    TraceFormat("setting burn source %s", m_params.path.c_str());
    if (FAILED(burn->SetBurnSource(m_params.path.c_str()))) {
        TraceText("failed to set burn source");
        face->Release();
        return FAILURE;
    }
    TraceText("opening image file");
    DWORD fileSize = 0;
    if (!imageFileSize(m_params.path, fileSize)) return failWithStatus(face, "failed to open image file");
    TraceFormat("image file size is %d", static_cast<int>(fileSize));

    DWORD length = 0;
    if (!spanLength(face, fileSize, true, length)) return failWithStatus(face);

    TraceFormat("Setting burn span %d,%d", static_cast<int>(m_params.start), static_cast<int>(length));
    if (FAILED(burn->SetBurnSpan(m_params.start, length))) return failWithStatus(face, "failed to set burn span");
    TraceText("Setting callback pipe");
    if (FAILED(burn->SetCallbackPipe(m_hOutputPipe))) return failWithStatus(face, "failed to set callback pipe");
    TraceFormat("Setting comm settings %s", m_params.commDeviceName.c_str());
    if (FAILED(burn->SetCommSettings(m_params.commDeviceName.c_str(), &m_params.dcb, &m_params.timeouts)))
        return failWithStatus(face, "failed to set comm settings");
    TraceText("Setting cancel event");
    if (FAILED(burn->SetTerminationFlag(m_hCancelEvent))) return failWithStatus(face, "failed to set cancel event");
    TraceFormat("Setting active flash=%d", static_cast<int>(m_params.deviceNumber));
    if (FAILED(burn->SetSelectedDevice(m_params.deviceNumber))) return failWithStatus(face, "failed to set active flash");
    TraceFormat("Setting verify to %X", static_cast<unsigned>(m_params.verifyFlag));
    if (FAILED(burn->SetVerifyFlag(static_cast<BOOL>(m_params.verifyFlag))))
        return failWithStatus(face, "failed to set verify flag");

    TraceText("Calling pIBurnix->Burn()");
    if (FAILED(burn->Burn())) return endOperation(face);
    face->Release();
    return SUCCESS;
}

}  // namespace ombra::workers
