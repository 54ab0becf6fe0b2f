// The C-bus table text file, packed as the front end packs it before a run.
#include "fuzz_support.h"
#include "ombra/frontend/cbus_file.h"

using namespace ombra;
using namespace ombra::frontend;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    fuzz::Input in(data, size);
    std::vector<std::uint8_t> table{0x55};
    const CBusResult r = parseCBusText(in.text(), table);
    OMBRA_FUZZ_CHECK(r == CBusResult::ok || r == CBusResult::tooLarge);
    OMBRA_FUZZ_CHECK(table.size() <= kMaxCBusTableSize && table.size() % 2 == 0);
    OMBRA_FUZZ_CHECK(r == CBusResult::ok || table.empty());

    std::uint16_t word = 0;
    parseCBusWord(in.text(), word);
    return 0;
}
