#pragma once

#include "ombra/workers/worker_proc.h"

namespace ombra::workers {

class Wexom final : public WorkerProc {
public:
    static const WorkerTraits kTraits;

    Wexom(HANDLE input, HANDLE output) : WorkerProc(input, output) {}
    const char* GetName() const override { return "Wexom"; }
    BOOL ReadProcParams() override;
    RunResult Run() override;
};

}  // namespace ombra::workers
