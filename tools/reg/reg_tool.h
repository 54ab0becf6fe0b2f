// The registry tool's command interpreter, callable in-process for tests.
#pragma once

#include <string>
#include <vector>

namespace ombra::tools {

// `args` without the program name. Writes listings to `out`, errors to
// `err`; gives the exit status (0 done, 1 failed or bad command line).
int regCommand(const std::vector<std::string>& args, std::string& out, std::string& err);

}  // namespace ombra::tools
