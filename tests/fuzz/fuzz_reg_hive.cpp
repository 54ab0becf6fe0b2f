// A registry hive file in its text form, as the store reads it on every
// call. A hive that parses must write out in a form that parses back to the
// same text: the store rewrites the file on each change.
#include "fuzz_support.h"
#include "reg_hive.h"

using namespace ombra;
using namespace ombra::platform;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    fuzz::Input in(data, size);
    reg::Key root;
    const reg::ParseError error = reg::parse(in.text(), "HKEY_CURRENT_USER", root);
    if (error.line != 0)
        return 0;
    const std::string once = reg::serialise(root, "HKEY_CURRENT_USER");
    reg::Key again;
    const reg::ParseError second = reg::parse(once, "HKEY_CURRENT_USER", again);
    if (second.line != 0) {
        std::fprintf(stderr, "written hive does not parse: line %zu: %s\n", second.line, second.reason.c_str());
        std::abort();
    }
    OMBRA_FUZZ_CHECK(reg::serialise(again, "HKEY_CURRENT_USER") == once);
    return 0;
}
