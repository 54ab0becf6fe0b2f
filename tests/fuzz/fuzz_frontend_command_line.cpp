// The front end's command line text ("-s", "-f", "-l", "-b", "-a", "-av",
// "UNINSTALL"), and the text it builds from its arguments. The existence
// checks answer from the value itself, so nothing touches the disk.
#include "fuzz_support.h"
#include "ombra/frontend/command_line.h"

using namespace ombra;
using namespace ombra::frontend;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    fuzz::Input in(data, size);
    const std::uint8_t answers = in.take();
    CommandLineChecks checks;
    checks.portExists = [&](const std::string& v) { return (answers & 1) || v.size() % 2 == 0; };
    checks.fileExists = [&](const std::string& v) { return (answers & 2) || v.size() % 3 == 0; };

    const std::string_view text = in.text();
    const CommandLine line = parseCommandLine(text, checks);
    OMBRA_FUZZ_CHECK(line.imagePath.size() <= text.size() && line.portName.size() <= text.size() &&
                     line.logPath.size() <= text.size());
    OMBRA_FUZZ_CHECK(!line.verify || line.unattended);
    isUninstallCommand(text);

    // Arguments cut at NULs, as argv would hold them.
    std::vector<std::string> args = fuzz::splitArguments(text);
    std::vector<char*> argv{const_cast<char*>("Ombra")};
    for (std::string& a : args)
        argv.push_back(a.data());
    argv.push_back(nullptr);
    const std::string joined = commandLineFromArguments(static_cast<int>(argv.size() - 1), argv.data());
    parseCommandLine(joined, checks);
    return 0;
}
