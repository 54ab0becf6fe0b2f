// Shared by the worker and launcher tests: a private registry folder, trace
// switches, and a worker started by hand with its pipes.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "ombra/common/pipe_protocol.h"
#include "ombra/platform/types.h"
#include "ombra/platform/unique_mutex.h"

namespace harness {

// A temporary folder that OMBRA_REGISTRY_DIR points at while it lives.
class TempFolder {
public:
    TempFolder();
    ~TempFolder();
    const std::string& path() const { return path_; }
    std::string file(const std::string& name) const { return path_ + "/" + name; }

private:
    std::string path_;
};

// Switches the trace of `traceName` on with file output into `file`.
void enableTrace(const char* traceName, const std::string& file, DWORD outputs = 1);
std::string readFile(const std::string& path);
std::string runProgram(const char* name);  // a program of the run folder
std::string locationOf(const char* workerName);  // "" when not registered

// A worker started as the front end would, but driven by the test.
struct Worker {
    HANDLE process = nullptr;
    HANDLE toWorker = nullptr;    // the worker's input
    HANDLE fromWorker = nullptr;  // the worker's output
    HANDLE inputReadEnd = nullptr;  // kept only with keepInputReadEnd
    HANDLE cancelEvent = nullptr;
    HANDLE cancelDuplicate = nullptr;
    ombra::platform::UniqueMutex mutex;

    ~Worker();
    bool write(const std::vector<std::uint8_t>& bytes);
    bool writeBlock(ombra::pipe::ParameterBlock block);
    std::vector<std::uint8_t> read(std::size_t count);  // fewer at the end of the stream
    void closeInput();
    // The exit code, or STILL_ACTIVE after `ms`.
    DWORD waitExit(DWORD ms);
};

enum class Mutex { created, missing };
// Starts `path` with the run-form command line; `argsOverride` replaces it.
void start(Worker& w, const std::string& path, Mutex mutex = Mutex::created, bool keepInputReadEnd = false,
           const std::vector<std::string>* argsOverride = nullptr);

ombra::pipe::ParameterBlock identifyBlock(const std::string& programmerName);

}  // namespace harness
