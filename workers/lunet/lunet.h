#pragma once

#include "ombra/workers/worker_proc.h"

namespace ombra::workers {

class Lunet final : public WorkerProc {
public:
    static const WorkerTraits kTraits;

    Lunet(HANDLE input, HANDLE output) : WorkerProc(input, output) {}
    const char* GetName() const override { return "Lunet"; }
    BOOL ReadProcParams() override;
    RunResult Run() override;
};

}  // namespace ombra::workers
