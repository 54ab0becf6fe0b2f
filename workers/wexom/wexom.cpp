#include "wexom/wexom.h"

namespace ombra::workers {

const WorkerTraits Wexom::kTraits = {"Wexom", "Wexom", "failed to register Wexom\n", "Calling proc.Run()\n", false,
                                     true};

BOOL Wexom::ReadProcParams() {
    TraceText("Wexom::ReadProcParams()");
    return readBlock(pipe::Operation::identify, pipe::BlockForm::current,
                     [](pipe::BlockField f, const pipe::ParameterBlock& b) {
                         switch (f) {
                         case pipe::BlockField::commDeviceName:
                             TraceFormat("Comm Device name = %s", b.commDeviceName.c_str());
                             break;
                         case pipe::BlockField::cbusTableSize:
                             TraceFormat("CBus Table size = %d", static_cast<int>(b.cbusTable.size()));
                             break;
                         case pipe::BlockField::baudRate:
                             TraceFormat("BaudRate = %d", static_cast<int>(b.baudRate));
                             break;
                         case pipe::BlockField::cancelEvent:
                             TraceFormat("Cancel event handle = %d", static_cast<int>(b.cancelEvent));
                             break;
                         default:
                             break;
                         }
                     });
}

}  // namespace ombra::workers

int main(int argc, char** argv) { return ombra::workers::runWorkerProgram<ombra::workers::Wexom>(argc, argv); }
