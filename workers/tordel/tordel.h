#pragma once

#include "ombra/workers/worker_proc.h"

namespace ombra::workers {

class Tordel final : public WorkerProc {
public:
    static const WorkerTraits kTraits;

    Tordel(HANDLE input, HANDLE output) : WorkerProc(input, output) {}
    const char* GetName() const override { return "Tordel"; }
    BOOL ReadProcParams() override;
    RunResult Run() override;
};

}  // namespace ombra::workers
