// ombra-cli's arguments (cut at NULs), checked in full before any board
// runs, and the per-board file names built from them.
#include "cli_options.h"
#include "fuzz_support.h"

using namespace ombra;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    fuzz::Input in(data, size);
    const std::uint8_t boards = in.take();
    const std::vector<std::string> args = fuzz::splitArguments(in.text());
    cli::Options options;
    const cli::ParseResult r = cli::parseOptions(args, options);
    if (r.kind != cli::ParseResult::Kind::run)
        return 0;
    OMBRA_FUZZ_CHECK(options.retries <= cli::kMaxRetries);
    const std::size_t count = boards % (cli::kMaxBoards + 2);
    if (cli::checkBoards(options, count).empty()) {
        for (std::size_t n = 1; n <= count; ++n) {
            const std::string port = n <= options.ports.size() ? options.ports[n - 1] : "/dev/pts/" + std::to_string(n);
            cli::perBoardPath(options.out, n, port);
            cli::perBoardPath(options.log, n, port);
        }
    }
    return 0;
}
