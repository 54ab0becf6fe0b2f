#include "lunet/lunet.h"

#include "ombra/platform/com.h"
#include "ombra/platform/handle.h"
#include "ombra/workers/programmer.h"

namespace ombra::workers {

namespace {

constexpr Preparation kPreparation{"Failed to create programmer instance", true, false,
                                               "failed to initialize remote codes"};
constexpr RemoteCodeStep kRemoteCode{"Getting dump boot code", "failed to get dump boot code", true,
                                     "Detected that the cancel flag is raised"};

}  // namespace

RunResult Lunet::Run() {
    TraceText("Inside Lunet::Run()");
    TraceText("Creating instance of programmer");
    IUnknown* face = prepareProgrammer(IID_IBurnixDump, kPreparation);
    if (face == nullptr) return FAILURE;
    auto* dump = as<IBurnixDump>(face);

    RunResult result = FAILURE;
    if (!startRemoteCode(
            face, kRemoteCode,
            [](IUnknown* f, BYTE** code, DWORD* address, WORD* size) {
                return as<IBurnixDump>(f)->GetDumpBootCode(code, address, size);
            },
            result))
        return result;

    TraceFormat("setting dump target %s", m_params.path.c_str());
    if (FAILED(dump->SetDumpTarget(m_params.path.c_str()))) {
        TraceText("failed to set dump target");
        face->Release();
        return FAILURE;
    }
    TraceFormat("setting dump span %d,%d", static_cast<int>(m_params.start), static_cast<int>(m_params.dumpLength));
    if (FAILED(dump->SetDumpSpan(m_params.start, m_params.dumpLength))) return failWithStatus(face);
    TraceFormat("setting callback pipe %d", static_cast<int>(HandleToNumber(m_hOutputPipe)));
    if (FAILED(dump->SetCallbackPipe(m_hOutputPipe))) return failWithStatus(face, "failed to set callback pipe");
    TraceText("setting comm settings");
    if (FAILED(dump->SetCommSettings(m_params.commDeviceName.c_str(), &m_params.dcb, &m_params.timeouts)))
        return failWithStatus(face, "failed to set comm settings");
    TraceText("setting termination flag");
    if (FAILED(dump->SetTerminationFlag(m_hCancelEvent))) return failWithStatus(face, "failed to set termination flag");
    TraceText("setting selected device");
    if (FAILED(dump->SetSelectedDevice(m_params.deviceNumber))) return failWithStatus(face, "failed to set selected device");
    TraceText("calling Dump()");
    if (FAILED(dump->Dump())) {
        TraceText("Dump() failed");
        return endOperation(face);
    }
    face->Release();
    return SUCCESS;
}

}  // namespace ombra::workers
