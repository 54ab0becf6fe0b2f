#include "quasp/quasp.h"

#include "ombra/platform/com.h"
#include "ombra/workers/programmer.h"

namespace ombra::workers {

namespace {

constexpr Preparation kPreparation{"Failed to create programmer instance", false, false,
                                               "failed to set initialize remote codes"};

}  // namespace

RunResult Quasp::Run() {
    TraceText("Inside Quasp::Run()");
    TraceText("Creating instance of programmer");
    IUnknown* face = prepareProgrammer(IID_IBurnixVerify, kPreparation);
    if (face == nullptr) return FAILURE;
    auto* verify = as<IBurnixVerify>(face);

    TraceText("Getting verify boot code");
    BYTE* code = nullptr;
    DWORD address = 0;
    WORD size = 0;
    if (FAILED(verify->GetVerifyBootCode(&code, &address, &size))) {
        TraceText("failed to get verify boot code");
        CoTaskMemFree(code);
        face->Release();
        return FAILURE;
    }
    TraceText("calling uploadRemote");
    const BOOL running = uploadRemote(code, address, size);
    CoTaskMemFree(code);
    if (!running) return afterFailedUpload(face, true, "cancel flag is raised");

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
