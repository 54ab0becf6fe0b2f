#include "lunet/lunet.h"

namespace ombra::workers {

const WorkerTraits Lunet::kTraits = {"Lunet", "Lunet", "failed to register server\n", "Calling proc.Run()\n", false,
                                     true};

BOOL Lunet::ReadProcParams() {
    // The dump worker traces under the identify worker's method name.
    TraceText("Wexom::ReadProcParams()");
    return readBlock(pipe::Operation::dump, pipe::BlockForm::current,
                     [](pipe::BlockField f, const pipe::ParameterBlock& b) {
                         switch (f) {
                         case pipe::BlockField::deviceNumber:
                             TraceFormat("DeviceNum = %d", static_cast<int>(b.deviceNumber));
                             break;
                         case pipe::BlockField::commDeviceName:
                             TraceFormat("Comm Device name = %s", b.commDeviceName.c_str());
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

int main(int argc, char** argv) { return ombra::workers::runWorkerProgram<ombra::workers::Lunet>(argc, argv); }
