#pragma once

#include "ombra/workers/worker_proc.h"

namespace ombra::workers {

class Quasp final : public WorkerProc {
public:
    static const WorkerTraits kTraits;

    Quasp(HANDLE input, HANDLE output) : WorkerProc(input, output) {}
    const char* GetName() const override { return "Quasp"; }
    BOOL ReadProcParams() override;
    RunResult Run() override;
};

}  // namespace ombra::workers
