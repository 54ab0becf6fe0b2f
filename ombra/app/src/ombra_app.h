// COmbraApp: the start sequence of the front end: trace, COM, the profile,
// the command line, the modal dialog, the settings written back.
#pragma once

#include <string>

namespace ombra::frontend {

class COmbraApp {
public:
    // argv[0] names the application (its profile key); the rest is the
    // command line. Gives the program's exit code: 0, or 1 when an
    // unattended run ended with a failure in its result.
    int run(int argc, char** argv);
};

}  // namespace ombra::frontend
