// Runs what an installation put on the machine: the installed simulator,
// the installed front ends, the installed uninstall script, and checks that
// the uninstall leaves nothing of the installation behind.
#pragma once

#include <string>
#include <vector>

#include "install_rig.h"

namespace ombra::installtest {

// The installed selkan-sim as its own process; stopped (flash file saved)
// by stop() or at the end.
class InstalledBoard {
public:
    InstalledBoard(const Scratch& scratch, const fs::path& installation);
    ~InstalledBoard();
    const std::string& port() const { return port_; }
    // Stops the board and gives the first `size` bytes of its flash.
    std::vector<std::uint8_t> stopAndReadFlash(std::size_t size);

private:
    void stop();
    fs::path work_;
    std::string pid_;
    std::string port_;
};

// A random image of `size` bytes in the scratch folder.
fs::path writeImage(const Scratch& scratch, std::size_t size, unsigned seed);

// Everything of the installation that is still there (files, shortcuts,
// registry keys and values); empty when the uninstall was complete.
std::vector<std::string> leftovers(const Scratch& scratch, const fs::path& installation);

// The installed front end's unattended burn and verify ("Ombra -av") of a
// random image into the installed simulator: checks its report, and the
// simulator's flash against the image.
void burnWithInstalledOmbra(const Scratch& scratch, const fs::path& installation);
// The same through the installed ombra-cli.
void burnWithInstalledCli(const Scratch& scratch, const fs::path& installation);

// Runs the installed uninstall.sh; gives its status, its output in `output`.
int runUninstall(const fs::path& installation, std::string& output);

// The echo lines of an uninstall run, in order.
std::vector<std::string> outputLines(const std::string& output);

}  // namespace ombra::installtest
