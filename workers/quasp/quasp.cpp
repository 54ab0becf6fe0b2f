#include "quasp/quasp.h"

namespace ombra::workers {

const WorkerTraits Quasp::kTraits = {"Quasp", "QuaspDbg", "failed to register Quasp\n", "Calling proc.Run()", false,
                                     false};

BOOL Quasp::ReadProcParams() {
    TraceText("Quasp::ReadProcParams()");
    return readBlock(pipe::Operation::verify, pipe::BlockForm::current, {});
}

}  // namespace ombra::workers

int main(int argc, char** argv) { return ombra::workers::runWorkerProgram<ombra::workers::Quasp>(argc, argv); }
