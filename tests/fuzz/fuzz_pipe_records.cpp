// The status records a front end reads from a worker's output pipe, and the
// terminate message a worker scans its parameter pipe for.
#include "fuzz_support.h"
#include "ombra/common/pipe_protocol.h"

using namespace ombra;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    MemorySource src({data, size});
    for (;;) {
        pipe::Record record;
        const pipe::ReadResult r = pipe::readRecord(src, record);
        if (r != pipe::ReadResult::ok)
            break;
        if (const auto* text = std::get_if<pipe::TextMessage>(&record))
            OMBRA_FUZZ_CHECK(text->text.size() <= pipe::kMaxRecordText);
    }

    pipe::TerminateScanner scan;
    for (std::size_t i = 0; i < size; ++i) {
        const bool done = scan.feed(data[i]);
        // Only a 04 completes the message, and only after 01 02 03.
        OMBRA_FUZZ_CHECK(!done || (data[i] == 4 && i >= 3 && data[i - 1] == 3 && data[i - 2] == 2 && data[i - 3] == 1));
        OMBRA_FUZZ_CHECK(scan.expecting() >= 1 && scan.expecting() <= 4);
    }
    return 0;
}
