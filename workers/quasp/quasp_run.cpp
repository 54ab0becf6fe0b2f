#include "quasp/quasp.h"

#include "ombra/platform/com.h"
#include "ombra/workers/programmer.h"

namespace ombra::workers {

namespace {

constexpr Preparation kPreparation{"Failed to create programmer instance", false, false,
                                               "failed to set initialize remote codes"};
constexpr RemoteCodeStep kRemoteCode{"Getting verify boot code", "failed to get verify boot code",
                                     true, "cancel flag is raised"};

}  // namespace

RunResult Quasp::Run() {
    TraceText("Inside Quasp::Run()");
    TraceText("Creating instance of programmer");
    IUnknown* face = prepareProgrammer(IID_IBurnixVerify, kPreparation);
    if (face == nullptr) return FAILURE;
    auto* verify = as<IBurnixVerify>(face);

    RunResult result = FAILURE;
    if (!startRemoteCode(
            face, kRemoteCode,
            [](IUnknown* f, BYTE** code, DWORD* address, WORD* size) {
                return as<IBurnixVerify>(f)->GetVerifyBootCode(code, address, size);
            },
            result))
        return result;

    TraceFormat("setting verify source %s", m_params.path.c_str());
    if (FAILED(verify->SetVerifySource(m_params.path.c_str()))) {
        TraceText("failed to set verify source");
        face->Release();
        return FAILURE;
    }
    DWORD fileSize = 0;
    if (!imageFileSize(m_params.path, fileSize)) return failWithStatus(face);
    DWORD length = 0;
    if (!spanLength(face, fileSize, false, length)) return failWithStatus(face);
    if (FAILED(verify->SetVerifySpan(m_params.start, length))) return failWithStatus(face);
    if (FAILED(verify->SetCallbackPipe(m_hOutputPipe)) ||
        FAILED(verify->SetCommSettings(m_params.commDeviceName.c_str(), &m_params.dcb, &m_params.timeouts)) ||
        FAILED(verify->SetTerminationFlag(m_hCancelEvent)) || FAILED(verify->SetSelectedDevice(m_params.deviceNumber)))
        return failWithStatus(face);
    if (FAILED(verify->Verify())) return endOperation(face);
    face->Release();
    return SUCCESS;
}

}  // namespace ombra::workers
