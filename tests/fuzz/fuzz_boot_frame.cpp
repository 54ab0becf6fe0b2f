// The boot loader's frame hunt over the bytes a boot ROM (or line noise)
// sends. The first byte scripts how reads end once the bytes run out and
// whether a read is interrupted; frames are read until the hunt stops.
#include <cstring>

#include "fuzz_support.h"
#include "ombra/common/frame.h"
#include "selkanboot.h"

using namespace ombra;
using namespace ombra::selkanboot;

namespace {

// A serial port that has received `bytes`: a read gets what is there, a
// read past the end times out (the partial bytes consumed, as a port's
// short read); after `silentReads` such time-outs the step's limit is up.
class MemoryReader final : public FrameReader {
public:
    MemoryReader(std::span<const std::uint8_t> bytes, int silentReads, int interruptAfter)
        : bytes_(bytes), silentReads_(silentReads), interruptAfter_(interruptAfter) {}

    IoOutcome read(BYTE* buffer, DWORD count, DWORD) override
    {
        if (interruptAfter_ >= 0 && reads_++ == interruptAfter_)
            return IoOutcome::interrupted;
        const std::size_t n = std::min<std::size_t>(count, bytes_.size() - pos_);
        std::memcpy(buffer, bytes_.data() + pos_, n);
        pos_ += n;
        if (n == count)
            return IoOutcome::done;
        ++timeouts_;
        return IoOutcome::timedOut;
    }
    bool limitReached() override { return pos_ == bytes_.size() && timeouts_ > silentReads_; }
    StepOutcome interrupted(bool afterSync) override
    {
        return afterSync ? StepOutcome::cancelled : StepOutcome::timeout;
    }
    std::size_t position() const { return pos_; }

private:
    std::span<const std::uint8_t> bytes_;
    std::size_t pos_ = 0;
    int silentReads_;
    int interruptAfter_;
    int reads_ = 0;
    int timeouts_ = 0;
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    fuzz::Input in(data, size);
    const std::uint8_t script = in.take();
    const int interruptAfter = (script & 0x80) ? (script & 0x3F) : -1;
    MemoryReader reader(in.rest(), (script >> 6) & 1, interruptAfter);

    for (;;) {
        const std::size_t before = reader.position();
        ReceivedFrame frame;
        const StepOutcome o = receiveFrame(reader, frame);
        if (o != StepOutcome::ok && o != StepOutcome::badChecksum)
            break;
        if (o == StepOutcome::ok) {
            // A good frame is the tail of what was read: re-encoded it must match.
            const auto wire = frame::encode(frame.type, std::span<const BYTE>(frame.payload.get(), frame.length));
            const std::size_t end = reader.position();
            OMBRA_FUZZ_CHECK(end - before >= wire.size());
            OMBRA_FUZZ_CHECK(std::equal(wire.begin(), wire.end(), in.rest().begin() + (end - wire.size())));
        }
        // Every frame read moves on, so the loop ends.
        OMBRA_FUZZ_CHECK(reader.position() > before);
    }
    return 0;
}
