// One board's part of an ombra-cli run: its operations in order (identify,
// then burn or dump), each through a worker started by the launcher core,
// judged by the result detail, and re-run from the start after a failure as
// often as --retries allows. Each board has its own cancel event, and its
// own lock around the worker it runs, so boards never wait on each other.
#pragma once

#include <cstddef>
#include <cstdint>
#include <map>
#include <mutex>
#include <string>
#include <vector>

#include "cli_options.h"
#include "ombra/common/pipe_protocol.h"
#include "ombra/launcher/launcher.h"
#include "ombra/launcher/run_report.h"
#include "ombra/platform/types.h"

namespace ombra::cli {

enum class Verdict { passed, failed, cancelled };
const char* verdictName(Verdict verdict);
// "SUCCESS", "FAILURE", "CANCELLED"; "none" when no status came.
const char* statusName(DWORD code);

struct OperationResult {
    std::string name;  // "identify", "burn", "burn and verify", "dump"
    unsigned attempt = 1;
    bool completed = false;  // the worker's final status came
    DWORD status = 0;
    Verdict outcome = Verdict::failed;
    double seconds = 0;
    std::int32_t device = -1;           // identify: the table's index, -1 when not found
    std::vector<std::string> messages;  // every text of message class 0, as sent
    std::vector<std::string> failures;  // what this operation added to the result detail
};

struct BoardResult {
    std::size_t number = 0;  // the board's place, from 1
    std::string port;
    std::string programmer;
    std::int32_t device = -1;
    std::string deviceName;  // "maker model", empty when the programmer cannot tell
    unsigned attempts = 0;
    Verdict verdict = Verdict::failed;
    std::vector<OperationResult> operations;  // of every attempt
    std::vector<std::string> failures;        // the last attempt's result detail
    std::string outputFile;                   // dump target
    std::string logFile, logError;            // the run log, and why it could not be written
};

// What a board run reports as it goes, on the board's own thread.
class BoardObserver {
public:
    virtual void operationStarted(std::size_t board, const std::string& heading, const std::string& operation,
                                  unsigned attempt) = 0;
    virtual void text(std::size_t board, const std::string& text) = 0;
    virtual void progress(std::size_t board, DWORD done, DWORD total) = 0;
    virtual void completion(std::size_t board, DWORD status, DWORD value) = 0;
    // A line of the front end's own (a device the table lacks, a retry).
    virtual void note(std::size_t board, const std::string& line) = 0;
    virtual void boardEnded(const BoardResult& result) = 0;

protected:
    ~BoardObserver() = default;
};

// What every board of a run shares.
struct RunPlan {
    Options options;
    pipe::ParameterBlock block;  // programmer, line settings, C-bus table; no port yet
    std::string burnPath;        // the raw image the burn worker reads
    DWORD burnStart = 0;
    std::string programFolder;   // where workers not in the registry are looked for
};

// Device names from the programmer's table, one lookup at a time for all
// boards (the component reads its driver files on each).
class DeviceNames {
public:
    std::string name(const CLSID& programmer, const std::string& programmerName, DWORD index);

private:
    std::mutex lock_;
    std::map<DWORD, std::string> cache_;
};

class BoardRun {
public:
    BoardRun(const RunPlan& plan, std::size_t number, std::string port, BoardObserver& observer, DeviceNames& names);
    ~BoardRun();
    BoardRun(const BoardRun&) = delete;
    BoardRun& operator=(const BoardRun&) = delete;

    // The whole board, attempts included, on the calling thread.
    void run();
    // From any thread: sets this board's cancel event; its worker ends
    // through it and no further operation or attempt starts.
    void cancel();
    // From any thread, after a cancel the worker did not answer: kills it.
    void abandon();

    // Complete once run() has returned.
    const BoardResult& result() const { return result_; }

private:
    bool cancelled() const;
    OperationResult runOperation(launcher::JobKind kind, const char* worker, const pipe::ParameterBlock& block,
                                 const std::string& name, unsigned attempt, launcher::ResultDetail& detail);
    void runAttempt(unsigned attempt, launcher::ResultDetail& detail, launcher::RunReport* log);

    const RunPlan& plan_;
    BoardObserver& observer_;
    DeviceNames& names_;
    BoardResult result_;
    HANDLE cancel_ = nullptr;
    std::mutex lock_;  // guards current_ and abandoned_
    launcher::WorkerLauncher* current_ = nullptr;
    bool abandoned_ = false;
};

}  // namespace ombra::cli
