// The worker's parameter block as it comes out of the parameter pipe. The
// first byte picks the operation and the block form; a block that reads must
// encode back to exactly the bytes it was read from.
#include "fuzz_support.h"
#include "ombra/common/pipe_protocol.h"

using namespace ombra;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    fuzz::Input in(data, size);
    const std::uint8_t choice = in.take();
    const auto operation = static_cast<pipe::Operation>(choice & 3);
    const auto form = (choice & 4) ? pipe::BlockForm::earlier : pipe::BlockForm::current;

    MemorySource src(in.rest());
    pipe::ParameterBlock block;
    std::size_t fields = 0;
    const bool ok = pipe::readParameterBlock(src, operation, form, block,
                                             [&](pipe::BlockField, const pipe::ParameterBlock&) { ++fields; });
    if (!ok) {
        OMBRA_FUZZ_CHECK(block == pipe::ParameterBlock{});
        return 0;
    }
    const std::size_t used = in.rest().size() - src.remaining();
    const auto again = pipe::encode(block, form);
    OMBRA_FUZZ_CHECK(again.has_value());
    OMBRA_FUZZ_CHECK(again->size() == used);
    OMBRA_FUZZ_CHECK(std::equal(again->begin(), again->end(), in.rest().begin()));
    OMBRA_FUZZ_CHECK(fields > 0);
    return 0;
}
