// The dialog tests' world: a QApplication (offscreen unless the caller chose
// a platform), a private registry with the components and workers
// registered, and selkan-sim as its own process with its port listed in the
// registry, as an operator's machine would have it.
#pragma once

#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "ombra/platform/handle.h"

namespace ombra::guitest {

// The application object every dialog test needs; made once.
void ensureApplication();

std::string runDir();

// Processes events until `done` or `ms` have passed; gives `done()`.
bool waitFor(const std::function<bool()>& done, int ms);

class Rig {
public:
    // `simArguments` go to selkan-sim besides the port and quiet options;
    // with `startBoard` false there is no board.
    explicit Rig(std::vector<std::string> simArguments = {"--flash-time-scale", "0"},
                 bool startBoard = true);
    ~Rig();
    Rig(const Rig&) = delete;
    Rig& operator=(const Rig&) = delete;

    const std::string& folder() const { return folder_; }
    const std::string& port() const { return port_; }
    std::string file(const std::string& name) const { return folder_ + "/" + name; }
    // The board's flash contents: the simulator saves them as it stops.
    std::vector<unsigned char> stopBoardAndReadFlash(std::size_t size);
    // A C-bus table file with the shipped table, at the top of the C-bus history.
    std::string addCBusFile();
    // Registers a copy of the programmer component whose driver list names
    // only `drivers` (of SST, Intel, AMD), in this order.
    void registerProgrammerWithDrivers(const std::vector<std::string>& drivers);

private:
    std::string folder_;
    std::string port_;
    HANDLE sim_ = nullptr;  // selkan-sim
};

std::vector<unsigned char> randomBytes(std::size_t size, unsigned seed);
void writeFile(const std::string& path, const std::vector<unsigned char>& bytes);
std::vector<unsigned char> readFile(const std::string& path);

// Message boxes shown while it lives, answered with `answer`.
class MessageBoxRecorder {
public:
    explicit MessageBoxRecorder(int answer = 1 /* IDOK */);
    ~MessageBoxRecorder();
    void answer(int a) { answer_ = a; }
    const std::vector<std::string>& texts() const { return texts_; }

private:
    int answer_;
    std::vector<std::string> texts_;
};

}  // namespace ombra::guitest
