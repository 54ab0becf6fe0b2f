// The XModem receiver of a dump over the sender's bytes. The first two bytes
// pick the checksum form and the size of the dump's buffer (up to 16 KiB),
// so both short and over-long transfers are met.
#include <vector>

#include "fuzz_port.h"
#include "fuzz_support.h"
#include "ombra/burnix/xmodem.h"

using namespace ombra;
using namespace ombra::burnix;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    fuzz::Input in(data, size);
    const std::uint8_t a = in.take();
    const std::uint8_t b = in.take();
    XModemOptions options;
    options.crcAttempts = (a & 0x80) != 0 ? 32 : 0;
    options.byteTimeoutMs = 0;
    const std::size_t destSize = (static_cast<std::size_t>(a & 0x3F) << 8 | b);

    // A buffer of exactly the dump's size, so any store past it is caught.
    std::vector<std::uint8_t> dest(destSize);
    fuzz::FuzzPort port(in.rest());
    fuzz::NullTrace trace;
    fuzz::NullSink sink;
    Reporter report(sink, "Burnix", Reporter::Style::colon);
    std::uint32_t stored = 0;
    const XmResult r = XModemReceive(port, dest, report, trace, stored, options);
    OMBRA_FUZZ_CHECK(stored <= destSize);
    OMBRA_FUZZ_CHECK(r != XmResult::ok || stored == destSize || destSize == 0);
    return 0;
}
