// A worker's command line: "REGISTER", "UNREGISTER", or the mutex name and
// the two pipe handle numbers the front end passes. The arguments are cut
// at NULs, joined as the frame joins them, then read as the run form.
#include "fuzz_support.h"
#include "ombra/platform/unique_mutex.h"
#include "ombra/workers/worker_proc.h"

using namespace ombra;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    fuzz::Input in(data, size);
    std::vector<std::string> args = fuzz::splitArguments(in.text());
    std::vector<char*> argv{const_cast<char*>("Tordel")};
    for (std::string& a : args)
        argv.push_back(a.data());
    argv.push_back(nullptr);

    const std::string line = workers::joinCommandLine(static_cast<int>(argv.size() - 1), argv.data());
    workers::RunForm form;
    if (workers::parseRunForm(line, form)) {
        OMBRA_FUZZ_CHECK(!form.mutexName.empty() && form.mutexName.size() <= line.size());
        // The name only ever names a lock file inside the runtime folder.
        if (platform::UniqueMutex::isValidName(form.mutexName))
            OMBRA_FUZZ_CHECK(form.mutexName.find('/') == std::string::npos && form.mutexName != "..");
    }
    // The text as it stands, with blanks and bytes a shell would not pass.
    workers::parseRunForm(std::string(in.text()), form);
    return 0;
}
