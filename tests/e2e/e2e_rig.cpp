#include "e2e_rig.h"

#include <atomic>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <random>
#include <stdexcept>

#include "ombra/burnix/interfaces.h"
#include "ombra/common/pipe_io.h"
#include "ombra/platform/clock.h"
#include "ombra/platform/handle.h"
#include "ombra/platform/pipe.h"
#include "ombra/platform/process.h"
#include "ombra/platform/thread.h"
#include "ombra/platform/unique_mutex.h"
#include "ombra/chipfamily/chipfamily.h"
#include "ombra/testsupport/board_line.h"

namespace fs = std::filesystem;

namespace ombra::e2e {

using launcher::ServiceKind;
using launcher::ServiceRecord;

const Programmer kProgrammers[6] = {
    {"BurnixSST", &CLSID_Burnix, "SST", "SST39LF/VF160", 0, "SST:"},
    {"BurnixIntel", &CLSID_Burnix, "Intel", "28F800B3T", 0, "Intel:"},
    {"BurnixAMD", &CLSID_Burnix, "AMD", "AM29LV800BT", 0, "AMD:"},
    {"Cobalt", &CLSID_Cobalt, "Cobalt", "SST39LF/VF160", 0, "(SST)"},
    {"Nickel", &CLSID_Nickel, "Nickel", "28F800B3T", 0, "(Intel)"},
    {"Copper", &CLSID_Copper, "Copper", "AM29LV800BB", 4, "(AMD)"},
};

std::string runDir() {
    const char* dir = std::getenv("OMBRA_RUN_DIR");
    return dir != nullptr ? dir : OMBRA_E2E_RUN_DIR;
}

Registry::Registry(const std::vector<std::string>& components) {
    std::random_device rd;
    for (;;) {
        const fs::path p = fs::temp_directory_path() / ("ombra-e2e-" + std::to_string(rd()));
        if (fs::create_directory(p)) {
            folder_ = p.string();
            break;
        }
    }
    // The workers inherit the folder with the environment.
    ::setenv("OMBRA_REGISTRY_DIR", folder_.c_str(), 1);
    for (const auto& component : components) {
        const std::string command = "\"" + runDir() + "/regsvr\" /s \"" + runDir() + "/" + component + "\"";
        if (std::system(command.c_str()) != 0) throw std::runtime_error("regsvr failed: " + command);
    }
}

Registry::~Registry() {
    std::error_code ec;
    fs::remove_all(folder_, ec);
}

void registerSmallAmdProgrammer(const Registry& registry, DWORD capacity) {
    const fs::path install = fs::path(registry.folder()) / "install";
    fs::create_directories(install);
    fs::copy_file(fs::path(runDir()) / "Burnix.so", install / "Burnix.so", fs::copy_options::overwrite_existing);
    fs::copy(fs::path(runDir()) / "Drivers", install / "Drivers",
             fs::copy_options::recursive | fs::copy_options::overwrite_existing);
    const fs::path cfg = install / "Drivers" / "AMD" / "AMD.cfg";
    std::string text;
    {
        std::ifstream in(cfg);
        text.assign(std::istreambuf_iterator<char>(in), {});
    }
    const std::string entry = "Capacity=1048576";
    const auto at = text.find(entry);  // the first part's entry
    if (at == std::string::npos) throw std::runtime_error("AMD table changed");
    text.replace(at, entry.size(), "Capacity=" + std::to_string(capacity));
    std::ofstream(cfg, std::ios::trunc) << text;
    const std::string command = "\"" + runDir() + "/regsvr\" /s \"" + (install / "Burnix.so").string() + "\"";
    if (std::system(command.c_str()) != 0) throw std::runtime_error("regsvr failed: " + command);
}

sim::BoardOptions fastBoard(const std::string& part) {
    sim::BoardOptions o;
    o.flashModel = part;
    o.paced = false;
    o.flashTimeScale = 0;
    return o;
}

std::vector<std::string> Outcome::texts() const {
    std::vector<std::string> out;
    for (const auto& r : records)
        if (r.kind == ServiceKind::SERVICE_TEXT) out.push_back(r.text);
    return out;
}

std::vector<DWORD> Outcome::completions() const {
    std::vector<DWORD> out;
    for (const auto& r : records)
        if (r.kind == ServiceKind::SERVICE_COMPLETION) out.push_back(r.first);
    return out;
}

std::size_t Outcome::progressCount() const {
    std::size_t n = 0;
    for (const auto& r : records) n += r.kind == ServiceKind::SERVICE_PROGRESS;
    return n;
}

bool Outcome::hasText(const std::string& needle) const {
    for (const auto& t : texts())
        if (t.find(needle) != std::string::npos) return true;
    return false;
}

namespace {


}  // namespace

launcher::WorkerJob workerJob(const Job& job, HANDLE cancelEvent) {
    static const char* const kWorkers[] = {"Wexom", "Tordel", "Quasp", "Lunet"};
    static const pipe::Operation kOperations[] = {pipe::Operation::identify, pipe::Operation::burn,
                                                  pipe::Operation::verify, pipe::Operation::dump};
    const auto kind = static_cast<std::size_t>(job.kind);
    launcher::WorkerJob w;
    w.kind = job.kind;
    w.workerName = kWorkers[kind];
    w.workerPath = runDir() + "/" + kWorkers[kind];
    w.cancelEvent = cancelEvent;
    pipe::ParameterBlock& b = w.block;
    b.operation = kOperations[kind];
    b.programmerClsid = *job.programmer->clsid;
    b.programmerName = job.programmer->name;
    b.deviceNumber = job.device != 0xFFFFFFFF ? job.device : job.programmer->device;
    b.commDeviceName = job.port;
    b.dcb = testsupport::boardLineDcb(job.baud);
    b.timeouts = COMMTIMEOUTS{};
    b.cbusTable = testsupport::defaultCBusTable();
    b.baudRate = job.baud;
    b.path = job.path;
    b.start = job.start;
    b.verifyFlag = job.verify;
    b.dumpLength = job.dumpLength;
    return w;
}

Outcome runJob(const Job& job, HANDLE cancelEvent,
               const std::function<void(const ServiceRecord&, launcher::WorkerLauncher&)>& watch) {
    Outcome out;
    launcher::WorkerLauncher* self = nullptr;
    launcher::WorkerLauncher run(workerJob(job, cancelEvent), [&](ServiceRecord r) {
        if (watch) watch(r, *self);
        out.records.push_back(std::move(r));
    });
    self = &run;
    run.run();
    out.identified = run.identifiedDevice();
    out.terminated = run.workerTerminated();
    return out;
}

std::vector<pipe::Record> rawRun(const Job& job, HANDLE cancelEvent,
                                 const std::function<void(const pipe::Record&)>& watch) {
    static std::atomic<int> serial{0};
    const launcher::WorkerJob w = workerJob(job, cancelEvent);
    HANDLE inRead = nullptr, inWrite = nullptr, outRead = nullptr, outWrite = nullptr, cancelCopy = nullptr;
    if (!CreatePipe(&inRead, &inWrite, TRUE) || !CreatePipe(&outRead, &outWrite, TRUE) ||
        !DuplicateHandle(cancelEvent, &cancelCopy, TRUE))
        throw std::runtime_error("pipes");
    platform::UniqueMutex mutex;
    const std::string name = "OmbraMUTR" + std::to_string(++serial) + "PR" + std::to_string(GetCurrentProcessId()) +
                             "TI" + std::to_string(GetTickCount());
    if (!mutex.create(name)) throw std::runtime_error("mutex");
    const std::vector<std::string> args = {name, std::to_string(HandleToNumber(inRead)),
                                           std::to_string(HandleToNumber(outWrite))};
    const HANDLE inherit[] = {inRead, outWrite, cancelCopy};
    const HANDLE process = CreateProcess(w.workerPath, args, inherit);
    CloseHandle(inRead);
    CloseHandle(outWrite);
    if (process == nullptr) throw std::runtime_error("worker did not start");

    pipe::ParameterBlock block = w.block;
    block.cancelEvent = HandleToNumber(cancelCopy);
    HandleSink(inWrite).write(*pipe::encode(block, pipe::BlockForm::current));
    std::vector<pipe::Record> records;
    HandleSource source(outRead);
    bool terminated = false;
    for (;;) {
        pipe::Record r;
        if (pipe::readRecord(source, r) != pipe::ReadResult::ok) break;
        if (!terminated && std::holds_alternative<pipe::StatusMessage>(r)) {
            HandleSink(inWrite).write(pipe::kTerminateMessage);
            terminated = true;
        }
        if (watch) watch(r);
        records.push_back(std::move(r));
    }
    WaitForSingleObject(process, INFINITE);
    for (HANDLE h : {process, inWrite, outRead, cancelCopy}) CloseHandle(h);
    return records;
}

std::vector<DWORD> statusCodes(const std::vector<pipe::Record>& records) {
    std::vector<DWORD> out;
    for (const auto& r : records)
        if (const auto* s = std::get_if<pipe::StatusMessage>(&r)) out.push_back(s->code);
    return out;
}

bool backInRom(const sim::Board& board) {
    for (int i = 0; i < 1000; ++i) {
        if (board.inRom()) return true;
        Sleep(10);
    }
    return false;
}

Bytes pattern(std::size_t size, unsigned seed) {
    Bytes bytes(size);
    std::uint32_t x = 0x9E3779B9u * seed + 7;
    for (auto& b : bytes) {
        x = x * 1664525u + 1013904223u;
        b = static_cast<std::uint8_t>(x >> 24);
    }
    return bytes;
}

Bytes readBytes(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return Bytes(std::istreambuf_iterator<char>(in), {});
}

void writeBytes(const std::string& path, const Bytes& bytes) {
    std::ofstream(path, std::ios::binary)
        .write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
}

}  // namespace ombra::e2e
