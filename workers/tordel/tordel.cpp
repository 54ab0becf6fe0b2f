#include "tordel/tordel.h"

namespace ombra::workers {

const WorkerTraits Tordel::kTraits = {"Tordel", "Tordel", "failed to register Tordel\n", "Calling proc.Run()", true,
                                      true};

BOOL Tordel::ReadProcParams() {
    TraceText("Tordel::ReadProcParams()");
    return readBlock(pipe::Operation::burn, pipe::BlockForm::current, {});
}

}  // namespace ombra::workers

int main(int argc, char** argv) { return ombra::workers::runWorkerProgram<ombra::workers::Tordel>(argc, argv); }
