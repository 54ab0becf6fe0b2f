#include "install_table.h"

#include <array>
#include <cctype>
#include <charconv>

namespace ombra::install {
namespace {

constexpr InstallFileEntry kFiles[] = {
    {136, "Ombra", true, kOmbra, true},
    {131, "Tordel", true, kTordel, true},
    {141, "Quasp", true, kQuasp, true},
    {133, "Lunet", true, kLunet, true},
    {134, "Wexom", true, kWexom, true},
    {138, "Cobalt.so", true, kCobalt, false},
    {130, "Copper.so", true, kCopper, false},
    {135, "Nickel.so", true, kNickel, false},
    // Lower case: the settings value and the uninstall script name it so,
    // and here the case of a name matters.
    {132, "c_bus.txt", false, 0, false},
    {137, "Ombra_Application_Notes_0_2.html", false, 0, false},
    {139, "Pivra", false, 0, true},
    {140, "SelkanBoot.so", false, 0, false},
    // The front end burns through Burnix and its driver tree; the programs
    // need the platform library, the registration tool, the registry tool and
    // the message-box helper; the simulator lets an operator try every
    // operation before a board is wired.
    {142, "Burnix.so", false, 0, false},
    {143, "libombra_platform.so", false, 0, false},
    {144, "regsvr", false, 0, true},
    {145, "reg", false, 0, true},
    {146, "ombra-msgbox", false, 0, true},
    {147, "selkan-sim", false, 0, true},
    {148, "ombra-cli", false, 0, true},
    {150, "Drivers/Common/Burnix.cfg", false, 0, false},
    {151, "Drivers/SST/SST.cfg", false, 0, false},
    {152, "Drivers/SST/RemoteCode/RemoteIdentify.bin", false, 0, false},
    {153, "Drivers/SST/RemoteCode/RemoteBurn.bin", false, 0, false},
    {154, "Drivers/SST/RemoteCode/RemoteVerify.bin", false, 0, false},
    {155, "Drivers/SST/RemoteCode/RemoteDump.bin", false, 0, false},
    {156, "Drivers/Intel/Intel.cfg", false, 0, false},
    {157, "Drivers/Intel/RemoteCode/RemoteIdentify.bin", false, 0, false},
    {158, "Drivers/Intel/RemoteCode/RemoteBurn.bin", false, 0, false},
    {159, "Drivers/Intel/RemoteCode/RemoteVerify.bin", false, 0, false},
    {160, "Drivers/Intel/RemoteCode/RemoteDump.bin", false, 0, false},
    {161, "Drivers/AMD/AMD.cfg", false, 0, false},
    {162, "Drivers/AMD/RemoteCode/RemoteIdentify.bin", false, 0, false},
    {163, "Drivers/AMD/RemoteCode/RemoteBurn.bin", false, 0, false},
    {164, "Drivers/AMD/RemoteCode/RemoteVerify.bin", false, 0, false},
    {165, "Drivers/AMD/RemoteCode/RemoteDump.bin", false, 0, false},
};

constexpr ComponentEntry kComponents[kComponentCount] = {
    {"Ombra", "Ombra\t- Application GUI", "\t+Ombra\r\n"},
    {"Tordel", "Tordel - Flash burning component", "\t+Tordel\r\n"},
    {"Quasp", "Quasp - Flash verification component", "\t+Quasp\r\n"},
    {"Lunet", "Lunet - Flash dumping component", "\t+Lunet\r\n"},
    {"Wexom", "Wexom - Flash auto detection component", "\t+Wexom\r\n"},
    {"Cobalt", "Cobalt - SST flash type support", "\t+Cobalt\r\n"},
    {"Copper", "Copper - AMD flash type support", "\t+Copper\r\n"},
    {"Nickel", "Nickel - Intel flash type support", "\t+Nickel\r\n"},
};

bool sameText(std::string_view a, std::string_view b)
{
    if (a.size() != b.size()) return false;
    for (std::size_t i = 0; i < a.size(); ++i)
        if (std::tolower(static_cast<unsigned char>(a[i])) != std::tolower(static_cast<unsigned char>(b[i])))
            return false;
    return true;
}

}  // namespace

std::span<const InstallFileEntry> installFileTable() { return kFiles; }

std::span<const ComponentEntry> componentTable() { return kComponents; }

int componentFromText(std::string_view text)
{
    int number = -1;
    auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), number);
    if (ec == std::errc() && end == text.data() + text.size())
        return number >= 0 && number < kComponentCount ? number : -1;
    for (int i = 0; i < kComponentCount; ++i)
        if (sameText(text, kComponents[i].name)) return i;
    return -1;
}

std::string componentFileName(int component)
{
    for (const InstallFileEntry& row : kFiles)
        if (row.conditional && row.component == component) return row.fileName;
    return {};
}

}  // namespace ombra::install
