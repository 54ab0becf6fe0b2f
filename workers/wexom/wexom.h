#pragma once

#include <cstdint>

#include "ombra/workers/worker_proc.h"

namespace ombra::workers {

class Wexom final : public WorkerProc {
public:
    static const WorkerTraits kTraits;

    Wexom(HANDLE input, HANDLE output) : WorkerProc(input, output) {}
    const char* GetName() const override { return "Wexom"; }
    BOOL ReadProcParams() override;
    RunResult Run() override;

private:
    std::int32_t m_deviceIndex = -1;  // from IdentifyFlash; -1: not in the database
};

}  // namespace ombra::workers
