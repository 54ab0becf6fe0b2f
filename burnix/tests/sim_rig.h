// Runs the programmer end to end against the simulated board: the remote
// program is started through SelkanBoot as a worker does, Burnix drives it,
// and the records are read back from a real pipe.
#pragma once

#include <atomic>
#include <functional>
#include <memory>
#include <mutex>
#include <ostream>
#include <string>
#include <thread>
#include <vector>

#include "ombra/burnix/interfaces.h"
#include "ombra/common/pipe_protocol.h"
#include "ombra/sim/board.h"

namespace ombra::burnix::simtest {

// Registers SelkanBoot and Burnix into a private registry folder (once).
void setUpRuntime();
std::string runDir();
std::string scratchDir();

struct Family {
    const char* driver;
    const char* part;
    int index;  // of the part in the driver's table
};
extern const Family kFamilies[3];
inline void PrintTo(const Family& f, std::ostream* os) { *os << f.driver << " on " << f.part; }

// Collects records from the read end of a pipe on its own thread; `onRecord`
// runs on that thread.
class RecordReader {
public:
    RecordReader();
    ~RecordReader();
    HANDLE writeEnd() const { return write_; }
    // Closes the write end and waits for the reader to see the end.
    std::vector<pipe::Record> finish();
    std::function<void(const pipe::Record&)> onRecord;

    static std::vector<std::string> texts(const std::vector<pipe::Record>& records);
    static std::vector<DWORD> statuses(const std::vector<pipe::Record>& records);
    static std::vector<std::pair<DWORD, DWORD>> progress(const std::vector<pipe::Record>& records);

private:
    HANDLE read_ = nullptr, write_ = nullptr;
    std::thread thread_;
    std::mutex mutex_;
    std::vector<pipe::Record> records_;
};

// One operation: board, worker-like setup of Burnix, remote program started.
class Rig {
public:
    Rig(const std::string& part, sim::BoardOptions options = {}, DWORD baud = 115200);
    ~Rig();

    sim::Board& board() { return *board_; }
    HANDLE cancel() const { return cancel_; }

    // Creates Burnix for `worker` and the driver, uploads and starts its
    // remote program; gives the interface of the operation (AddRef'd).
    template <class T>
    T* start(const std::string& driver, const char* worker, REFIID iid) {
        return static_cast<T*>(startRaw(driver, worker, iid));
    }
    // Common setters as a worker makes them.
    void configure(IBurnix* burnix, HANDLE pipe);
    // Uploads a program through SelkanBoot and starts it, as a worker does.
    void boot(const BYTE* code, WORD length, DWORD address);

private:
    void* startRaw(const std::string& driver, const char* worker, REFIID iid);
    std::unique_ptr<sim::Board> board_;
    DWORD baud_;
    HANDLE cancel_ = nullptr;
    std::string driver_;
};

std::vector<std::uint8_t> testImage(std::size_t size, unsigned seed = 1);
std::string writeTemp(const std::string& name, const std::vector<std::uint8_t>& bytes);

}  // namespace ombra::burnix::simtest
