// Intel HEX image files, read whole before a burn.
#include "fuzz_support.h"
#include "ombra/image/image.h"

using namespace ombra;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    fuzz::Input in(data, size);
    image::Image img;
    image::ImageError error;
    if (image::parseIntelHex(in.text(), img, error)) {
        OMBRA_FUZZ_CHECK(img.bytes.size() <= image::kMaxSpanBytes);
        OMBRA_FUZZ_CHECK(img.format == image::Format::intelHex);
    } else {
        OMBRA_FUZZ_CHECK(!error.cause.empty());
    }
    // By content, as ombra-cli reads an image without --format.
    image::Image any;
    image::parseImage(in.rest(), std::nullopt, any, error);
    return 0;
}
