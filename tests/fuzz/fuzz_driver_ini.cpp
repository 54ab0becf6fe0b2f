// Driver files: the profile reader, then the programmer list of the common
// file and the device table of a driver file read from the same text, as
// the programmer reads them at initialisation.
#include "fuzz_support.h"
#include "ombra/burnix/drivers.h"
#include "ombra/burnix/ini.h"

using namespace ombra;
using namespace ombra::burnix;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    fuzz::Input in(data, size);
    const IniFile ini = IniFile::parse(in.text());

    if (const auto names = readProgrammers(ini)) {
        OMBRA_FUZZ_CHECK(!names->empty());
        for (const std::string& name : *names)
            OMBRA_FUZZ_CHECK(name.size() <= 127);
    }
    if (const auto devices = readDevices(ini)) {
        for (const DeviceEntry& e : *devices) {
            OMBRA_FUZZ_CHECK(e.manufacturerId != 0 || e.modelId != 0);
            OMBRA_FUZZ_CHECK(e.manufacturerName.size() <= 127 && e.modelName.size() <= 127);
            OMBRA_FUZZ_CHECK(findDevice(*devices, e.manufacturerId, e.modelId) >= 0);
        }
    }
    // The lookups every driver file gets, with the callers' buffer sizes.
    for (std::size_t bufferSize : {std::size_t{0}, std::size_t{1}, std::size_t{128}})
        OMBRA_FUZZ_CHECK(ini.getString("SUPPORTED_DEVICES", "Boot_Address", "x", bufferSize).size() + 1 <= std::max<std::size_t>(bufferSize, 1));
    ini.getInt("BOOT", "Boot_Address", kNoBootAddress);
    parseProfileInt(in.text());
    return 0;
}
