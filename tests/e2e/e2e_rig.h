// Worker runs end to end: a private registry with the components registered,
// a simulated board, and a worker process started by the launcher core as
// the front end would start it.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "ombra/common/pipe_protocol.h"
#include "ombra/launcher/launcher.h"
#include "ombra/sim/board.h"

namespace ombra::e2e {

using Bytes = std::vector<std::uint8_t>;

// A programmer as the block names it, with a part of its table.
struct Programmer {
    const char* label;  // for test names
    const CLSID* clsid;
    const char* name;   // the block's programmer name (the driver for Burnix)
    const char* part;   // simulated flash model
    DWORD device;       // the part's number in the programmer's table
    const char* textPrefix;  // what the programmer puts before its texts
};
extern const Programmer kProgrammers[6];

std::string runDir();

// A private registry folder (OMBRA_REGISTRY_DIR while it lives) with the
// components registered through regsvr.
class Registry {
public:
    explicit Registry(const std::vector<std::string>& components = {"SelkanBoot.so", "Burnix.so", "Cobalt.so",
                                                                    "Nickel.so", "Copper.so"});
    ~Registry();
    const std::string& folder() const { return folder_; }
    std::string file(const std::string& name) const { return folder_ + "/" + name; }

private:
    std::string folder_;
};

// Registers a copy of the configurable programmer, with its driver tree,
// whose AMD table gives its first part (AM29LV800BT) `capacity` bytes: whole-
// device cases without streaming a whole device.
void registerSmallAmdProgrammer(const Registry& registry, DWORD capacity);

sim::BoardOptions fastBoard(const std::string& part);

// One worker run through the launcher; the records as the front end saw them.
struct Outcome {
    std::vector<launcher::ServiceRecord> records;
    std::int32_t identified = -1;
    bool terminated = false;

    std::vector<std::string> texts() const;
    std::vector<DWORD> completions() const;  // status codes
    std::size_t progressCount() const;
    bool hasText(const std::string& needle) const;  // a text containing it
};

struct Job {
    launcher::JobKind kind = launcher::JobKind::identify;
    const Programmer* programmer = nullptr;
    std::string port;
    DWORD baud = 115200;
    std::string path;  // image or dump target
    DWORD start = 0;
    DWORD verify = 0;
    DWORD dumpLength = 0;
    DWORD device = 0xFFFFFFFF;  // the programmer's part unless set
};

launcher::WorkerJob workerJob(const Job& job, HANDLE cancelEvent);

// Runs the job; `watch` sees every record as it comes (on the launching
// thread) and may set the cancel event or kill the worker.
Outcome runJob(const Job& job, HANDLE cancelEvent,
               const std::function<void(const launcher::ServiceRecord&, launcher::WorkerLauncher&)>& watch = {});

// The same job with the test as the front end: every record the worker
// sends, also those after the first status record (the terminate message
// goes out after the first). `watch` sees each record as it comes.
std::vector<pipe::Record> rawRun(const Job& job, HANDLE cancelEvent,
                                 const std::function<void(const pipe::Record&)>& watch = {});
std::vector<DWORD> statusCodes(const std::vector<pipe::Record>& records);

// Waits (up to 10 s) for the board to leave the remote program for its ROM:
// a programmer may report before the board has written its last bytes.
bool backInRom(const sim::Board& board);

Bytes pattern(std::size_t size, unsigned seed = 1);
Bytes readBytes(const std::string& path);
void writeBytes(const std::string& path, const Bytes& bytes);

}  // namespace ombra::e2e
