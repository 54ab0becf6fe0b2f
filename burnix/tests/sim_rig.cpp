#include "sim_rig.h"

#include <cstdlib>
#include <filesystem>
#include <fstream>

#include "ombra/common/pipe_io.h"
#include "ombra/platform/com.h"
#include "ombra/platform/event.h"
#include "ombra/platform/handle.h"
#include "ombra/platform/pipe.h"
#include "ombra/platform/process.h"
#include "ombra/platform/thread.h"
#include "ombra/selkanboot/iselkanboot.h"
#include "ombra/testsupport/board_line.h"

namespace fs = std::filesystem;

namespace ombra::burnix::simtest {

const Family kFamilies[3] = {{"SST", "SST39LF/VF160", 0}, {"Intel", "28F800B3T", 0}, {"AMD", "AM29LV800BT", 0}};

namespace {

std::string g_scratch;

// Keeps the boot loader's texts, so a failed upload says which step failed.
LONG bootCallback(BootMessage* message, void* user) {
    if (message != nullptr && message->text != nullptr) {
        auto* texts = static_cast<std::string*>(user);
        if (!texts->empty()) texts->append("; ");
        texts->append(message->text);
    }
    return 0;
}

}  // namespace

std::string runDir() {
    const char* run = std::getenv("OMBRA_RUN_DIR");
    return run ? run : OMBRA_TEST_RUN_DIR;
}

std::string scratchDir() { return g_scratch; }

void setUpRuntime() {
    if (!g_scratch.empty()) return;
    g_scratch = (fs::temp_directory_path() / ("burnix-e2e-" + std::to_string(GetCurrentProcessId()))).string();
    fs::create_directories(g_scratch);
    ::setenv("OMBRA_REGISTRY_DIR", g_scratch.c_str(), 1);
    for (const char* component : {"SelkanBoot.so", "Burnix.so"}) {
        const std::string command = "\"" + runDir() + "/regsvr\" /s \"" + runDir() + "/" + component + "\"";
        if (std::system(command.c_str()) != 0) throw std::runtime_error("regsvr failed: " + command);
    }
    CoInitialize(nullptr);
}

std::vector<std::uint8_t> testImage(std::size_t size, unsigned seed) {
    std::vector<std::uint8_t> image(size);
    std::uint32_t x = 0x12345678u * seed + 1;
    for (auto& b : image) {
        x = x * 1103515245u + 12345u;
        b = static_cast<std::uint8_t>(x >> 16);
    }
    return image;
}

std::string writeTemp(const std::string& name, const std::vector<std::uint8_t>& bytes) {
    const std::string path = g_scratch + "/" + name;
    std::ofstream(path, std::ios::binary).write(reinterpret_cast<const char*>(bytes.data()),
                                               static_cast<std::streamsize>(bytes.size()));
    return path;
}

// ---- records ---------------------------------------------------------------

RecordReader::RecordReader() {
    CreatePipe(&read_, &write_, FALSE);
    thread_ = std::thread([this] {
        HandleSource source(read_);
        for (;;) {
            pipe::Record r;
            if (pipe::readRecord(source, r) != pipe::ReadResult::ok) return;
            if (onRecord) onRecord(r);
            std::lock_guard lock(mutex_);
            records_.push_back(std::move(r));
        }
    });
}

RecordReader::~RecordReader() {
    finish();
    CloseHandle(read_);
}

std::vector<pipe::Record> RecordReader::finish() {
    if (write_) {
        CloseHandle(write_);
        write_ = nullptr;
    }
    if (thread_.joinable()) thread_.join();
    std::lock_guard lock(mutex_);
    return records_;
}

std::vector<std::string> RecordReader::texts(const std::vector<pipe::Record>& records) {
    std::vector<std::string> out;
    for (const auto& r : records)
        if (auto* t = std::get_if<pipe::TextMessage>(&r)) out.push_back(t->text);
    return out;
}

std::vector<DWORD> RecordReader::statuses(const std::vector<pipe::Record>& records) {
    std::vector<DWORD> out;
    for (const auto& r : records)
        if (auto* s = std::get_if<pipe::StatusMessage>(&r)) out.push_back(s->code);
    return out;
}

std::vector<std::pair<DWORD, DWORD>> RecordReader::progress(const std::vector<pipe::Record>& records) {
    std::vector<std::pair<DWORD, DWORD>> out;
    for (const auto& r : records)
        if (auto* p = std::get_if<pipe::ProgressMessage>(&r)) out.emplace_back(p->done, p->total);
    return out;
}

// ---- rig -------------------------------------------------------------------

Rig::Rig(const std::string& part, sim::BoardOptions options, DWORD baud) : baud_(baud) {
    setUpRuntime();
    options.flashModel = part;
    board_ = std::make_unique<sim::Board>(options);
    cancel_ = CreateEvent(TRUE, FALSE);
}

Rig::~Rig() { CloseHandle(cancel_); }

void* Rig::startRaw(const std::string& driver, const char* worker, REFIID iid) {
    driver_ = driver;
    IBurnixInitialization* init = nullptr;
    if (CoCreateInstance(CLSID_Burnix, nullptr, CLSCTX_INPROC_SERVER, IID_IBurnixInitialization,
                         reinterpret_cast<void**>(&init)) != S_OK)
        throw std::runtime_error("Burnix not creatable");
    if (init->InitializeDevices(driver_.c_str()) != S_OK || init->InitializeRemoteCodes(driver_.c_str(), worker) != S_OK)
        throw std::runtime_error("driver files missing for " + driver_);
    IUnknown* face = nullptr;
    init->QueryInterface(iid, reinterpret_cast<void**>(&face));
    init->Release();

    BYTE* code = nullptr;
    DWORD address = 0;
    WORD length = 0;
    HRESULT hr = E_FAIL;
    const std::string w = worker;
    if (w == "Tordel") hr = static_cast<IBurnixBurn*>(static_cast<void*>(face))->GetBurningBootCode(&code, &address, &length);
    if (w == "Lunet") hr = static_cast<IBurnixDump*>(static_cast<void*>(face))->GetDumpBootCode(&code, &address, &length);
    if (w == "Quasp") hr = static_cast<IBurnixVerify*>(static_cast<void*>(face))->GetVerifyBootCode(&code, &address, &length);
    if (w == "Wexom") hr = static_cast<IBurnix*>(static_cast<void*>(face))->GetIdentificationBootCode(&code, &address, &length);
    if (hr != S_OK) throw std::runtime_error("no boot code");
    boot(code, length, address);
    CoTaskMemFree(code);
    return face;
}

void Rig::boot(const BYTE* code, WORD length, DWORD address) {
    CLSID bootClsid{};
    platform::clsidFromProgId(kSelkanBootProgId, &bootClsid);
    ISelkanBoot* boot = nullptr;
    if (CoCreateInstance(bootClsid, nullptr, CLSCTX_INPROC_SERVER, IID_ISelkanBoot, reinterpret_cast<void**>(&boot)) != S_OK)
        throw std::runtime_error("SelkanBoot not creatable");
    const DCB dcb = testsupport::boardLineDcb(baud_);
    const COMMTIMEOUTS timeouts{};
    const auto table = testsupport::defaultCBusTable();
    boot->SetCommDeviceName(board_->portPath().c_str());
    boot->SetDCB(&dcb);
    boot->SetCommTimeouts(&timeouts);
    boot->SetCBusTable(table.data(), static_cast<WORD>(table.size()));
    boot->SetUploadImage(code, length);
    boot->SetUploadAddress(static_cast<WORD>(address >> 16), static_cast<WORD>(address));
    boot->SetExecuteAddress(static_cast<WORD>(address >> 16), static_cast<WORD>(address));
    std::string texts;
    boot->SetCallbackFn(&bootCallback, &texts);
    boot->SetTerminationFlag(cancel_);
    for (bool execute : {false, true}) {
        HANDLE thread = nullptr;
        if ((execute ? boot->Execute(&thread) : boot->Upload(&thread)) != S_OK || !thread)
            throw std::runtime_error("boot failed to start");
        WaitForSingleObject(thread, 120000);
        DWORD exitCode = 0;
        GetExitCodeThread(thread, &exitCode);
        CloseHandle(thread);
        if (exitCode != 1)
            throw std::runtime_error((execute ? "execute failed: " : "upload failed: ") + texts);
    }
    boot->Release();
}

void Rig::configure(IBurnix* burnix, HANDLE pipe) {
    const DCB dcb = testsupport::boardLineDcb(baud_);
    const COMMTIMEOUTS timeouts{};
    burnix->SetCallbackPipe(pipe);
    burnix->SetCommSettings(board_->portPath().c_str(), &dcb, &timeouts);
    burnix->SetTerminationFlag(cancel_);
}

}  // namespace ombra::burnix::simtest
