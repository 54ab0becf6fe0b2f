// The programmer's side of the remote link: the bytes the remote program
// sends while the programmer waits for a ping, for the end of programming,
// for a reply, or reads messages. The first byte picks the receiver.
#include "fuzz_port.h"
#include "fuzz_support.h"
#include "ombra/burnix/link.h"

using namespace ombra;
using namespace ombra::burnix;

namespace {

class FuzzHost final : public Host {
public:
    std::unique_ptr<Transport> openPort(DWORD) override { return nullptr; }
    std::unique_ptr<ImageFile> openImage(const std::string&, std::string& error) override
    {
        error = "no files here";
        return nullptr;
    }
    std::unique_ptr<DumpFile> createDumpFile(const std::string&, std::string& error) override
    {
        error = "no files here";
        return nullptr;
    }
    void sleepMs(DWORD) override {}
    void raisePriority(bool) override {}
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    fuzz::Input in(data, size);
    const std::uint8_t choice = in.take();
    fuzz::FuzzPort port(in.rest());
    FuzzHost host;
    fuzz::NullTrace trace;
    fuzz::NullSink sink;
    Reporter report(sink, "Burnix", Reporter::Style::colon);
    RemoteLink link(port, host, trace, report);

    switch (choice % 4) {
    case 0: link.waitForPing(); break;
    case 1: link.waitForProgramFinish(); break;
    case 2: link.waitReply(static_cast<std::uint8_t>(choice >> 2) | 0x10); break;
    default:
        for (;;) {
            RemoteLink::Message message;
            if (link.readMessage(message) != RemoteLink::Result::ok)
                break;
            OMBRA_FUZZ_CHECK(message.payload.size() <= 0xFFFF);
        }
        break;
    }
    return 0;
}
