// ombra-cli: a command-line front end on the launcher core. It runs the
// operations the dialog runs (identify, burn with or without verification,
// dump), unattended, and prints every record and a short report. A run is
// judged as the dialog's run report judges it: a failure text (message class
// 0) fails it even when the worker's status says success.
#include <cinttypes>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "ombra/burnix/interfaces.h"
#include "ombra/chipfamily/chipfamily.h"
#include "ombra/image/image.h"
#include "ombra/common/comm_records.h"
#include "ombra/launcher/launcher.h"
#include "ombra/launcher/run_report.h"
#include "ombra/platform/clock.h"
#include "ombra/platform/com.h"
#include "ombra/platform/event.h"
#include "ombra/platform/handle.h"
#include "ombra/platform/process.h"

using namespace ombra;
using launcher::JobKind;
using launcher::ResultDetail;
using launcher::ServiceKind;
using launcher::ServiceRecord;

namespace {

void usage(std::FILE* to) {
    std::fputs(
        "usage: ombra-cli identify --port PORT [options]\n"
        "       ombra-cli burn --port PORT --image FILE [--verify] [options]\n"
        "       ombra-cli dump --port PORT --out FILE --length BYTES [options]\n"
        "options: --programmer NAME (a Burnix driver such as SST, Intel, AMD, or Cobalt,\n"
        "         Nickel, Copper; default SST), --device N (skips identification),\n"
        "         --start ADDRESS (raw images and dumps), --baud RATE (default 115200),\n"
        "         --format auto|raw|ihex|srec (burn only; default auto: Intel HEX and\n"
        "         S-record files by their content, raw binary otherwise),\n"
        "         --log FILE (burn only: writes the unattended run report to FILE)\n"
        "exit codes: 0 passed; 1 failed (a run failed or reported a failure, such as\n"
        "         a failed verification, or the log file could not be written);\n"
        "         2 usage error\n",
        to);
}

struct Options {
    std::string command, port, image, out, log, programmer = "SST";
    DWORD baud = 115200, start = 0, length = 0;
    long device = -1;
    bool verify = false, startGiven = false, formatGiven = false;
    std::optional<image::Format> format;
};

bool parseNumber(const char* text, DWORD& value) {
    char* end = nullptr;
    const unsigned long long v = std::strtoull(text, &end, 0);
    if (end == text || *end != '\0' || v > 0xFFFFFFFFull) return false;
    value = static_cast<DWORD>(v);
    return true;
}

bool parse(int argc, char** argv, Options& o) {
    if (argc < 2) return false;
    o.command = argv[1];
    for (int i = 2; i < argc; ++i) {
        const std::string arg = argv[i];
        if (arg == "--verify") {
            o.verify = true;
            continue;
        }
        if (i + 1 >= argc) return false;
        const char* value = argv[++i];
        DWORD n = 0;
        if (arg == "--port") o.port = value;
        else if (arg == "--image") o.image = value;
        else if (arg == "--out") o.out = value;
        else if (arg == "--programmer") o.programmer = value;
        else if (arg == "--log" && *value != '\0') o.log = value;
        else if (arg == "--baud" && parseNumber(value, n)) o.baud = n;
        else if (arg == "--start" && parseNumber(value, n)) o.start = n, o.startGiven = true;
        else if (arg == "--format" && image::parseFormatName(value, o.format)) o.formatGiven = true;
        else if (arg == "--length" && parseNumber(value, n)) o.length = n;
        else if (arg == "--device" && parseNumber(value, n) && n <= 0xFFFF) o.device = static_cast<long>(n);
        else return false;
    }
    if (o.port.empty()) return false;
    if ((!o.log.empty() || o.formatGiven) && o.command != "burn") return false;
    if (o.command == "identify") return true;
    if (o.command == "burn") return !o.image.empty();
    if (o.command == "dump") return !o.out.empty() && o.length > 0;
    return false;
}

// The chip-family programmers by their own names, any other name as a driver
// of the configurable programmer.
bool programmerClass(const std::string& name, CLSID& clsid) {
    static const std::map<std::string, const char*> kFamilies = {
        {"Cobalt", "Tarvik.SelkanKLCobalt"}, {"Nickel", "Tarvik.SelkanKLNickel"}, {"Copper", "Tarvik.SelkanKLCopper"}};
    const auto family = kFamilies.find(name);
    return SUCCEEDED(platform::clsidFromProgId(family != kFamilies.end() ? family->second : "Tarvik.SelkanKLBurnix", &clsid));
}

std::string workerPath(const char* name, const char* argv0) {
    std::string path;
    if (launcher::findWorker(name, path)) return path;
    // Not registered: the worker beside this program.
    const std::string self = argv0;
    const auto slash = self.rfind('/');
    return (slash == std::string::npos ? std::string(".") : self.substr(0, slash)) + "/" + name;
}

struct RunOutcome {
    bool completed = false;  // a completion was posted
    DWORD status = 0;
    std::int32_t device = -1;
    DWORD milliseconds = 0;
    std::size_t failures = 0;  // lines this run added to the result detail
};

const char* statusName(DWORD code) {
    switch (code) {
    case pipe::E_STATUS_SUCCESS: return "SUCCESS";
    case pipe::E_STATUS_CANCELLED: return "CANCELLED";
    case pipe::E_STATUS_FAILURE: return "FAILURE";
    default: return "none";
    }
}

RunOutcome runOne(JobKind kind, const char* worker, pipe::ParameterBlock block, HANDLE cancel, const char* argv0,
                  ResultDetail& detail) {
    launcher::WorkerJob job;
    job.kind = kind;
    job.workerName = worker;
    job.workerPath = workerPath(worker, argv0);
    job.block = std::move(block);
    job.cancelEvent = cancel;
    RunOutcome outcome;
    DWORD lastPercent = 101;
    launcher::WorkerLauncher run(std::move(job), [&](ServiceRecord r) {
        detail.add(r);
        switch (r.kind) {
        case ServiceKind::SERVICE_TEXT:
            std::printf("  %s\n", r.text.c_str());
            break;
        case ServiceKind::SERVICE_PROGRESS: {
            // Every tenth is enough on a terminal.
            const DWORD percent = r.second != 0 ? static_cast<DWORD>(100ull * r.first / r.second) : 0;
            if (lastPercent > 100 || percent / 10 != lastPercent / 10) std::printf("  [%3u%%]\n", unsigned(percent));
            lastPercent = percent;
            break;
        }
        case ServiceKind::SERVICE_COMPLETION:
            outcome.completed = true;
            outcome.status = r.first;
            std::printf("  status %s (%u)\n", statusName(r.first), unsigned(r.second));
            break;
        }
        std::fflush(stdout);
    });
    const DWORD started = GetTickCount();
    run.run();
    outcome.milliseconds = GetTickCount() - started;
    outcome.device = run.identifiedDevice();
    // The launcher posts nothing when it cannot even make its pipes.
    if (!outcome.completed) detail.fail(std::string(worker) + " could not be started");
    return outcome;
}

// What a completion other than success adds: the dialog's lines for the
// burn's unattended run, a plain line for the other commands.
void judgeCompletion(const RunOutcome& r, bool burnCommand, const char* operation, ResultDetail& detail) {
    if (!r.completed) return;  // runOne has said so
    if (burnCommand) {
        detail.addCompletion(r.status);
    } else if (r.status == pipe::E_STATUS_CANCELLED) {
        detail.cancelledByUser();
    } else if (r.status != pipe::E_STATUS_SUCCESS) {
        detail.fail(std::string(operation) + " failed");
    }
}

// "manufacturer model" of a device of the programmer's table, as the
// dialog's device list names it; empty when the programmer cannot tell.
std::string deviceName(const CLSID& clsid, const std::string& programmer, DWORD index) {
    DeviceInfo* info = nullptr;
    HRESULT found = E_FAIL;
    IBurnixInitialization* init = nullptr;
    const HRESULT created =
        CoCreateInstance(clsid, nullptr, CLSCTX_INPROC_SERVER, IID_IBurnixInitialization, reinterpret_cast<void**>(&init));
    if (created == E_NOINTERFACE) {
        // A chip-family programmer: its table is built in.
        chipfamily::IBurnixInformation* family = nullptr;
        if (SUCCEEDED(CoCreateInstance(clsid, nullptr, CLSCTX_INPROC_SERVER, IID_IBurnixInformation,
                                       reinterpret_cast<void**>(&family))) &&
            family != nullptr) {
            found = family->EnumSupportedDevices(index, &info);
            family->Release();
        }
    } else if (SUCCEEDED(created) && init != nullptr) {
        IBurnixInformation* face = nullptr;
        if (SUCCEEDED(init->InitializeDevices(programmer.c_str())) &&
            SUCCEEDED(init->QueryInterface(IID_IBurnixInformation, reinterpret_cast<void**>(&face))) && face != nullptr) {
            found = face->EnumSupportedDevices(index, &info);
            face->Release();
        }
        init->Release();
    }
    std::string name;
    if (info != nullptr) {
        if (found == S_OK && info->manufacturerName != nullptr && info->modelName != nullptr)
            name = std::string(info->manufacturerName) + " " + info->modelName;
        CoTaskMemFree(info->manufacturerName);
        CoTaskMemFree(info->modelName);
        CoTaskMemFree(info);
    }
    return name;
}

// The table of the default C-bus file: chip selects for RAM and flash.
std::vector<std::uint8_t> defaultCBusTable() {
    return {0xFF, 0xA2, 0x3F, 0xFE, 0xFF, 0xA8, 0xA0, 0xBC, 0xFF, 0xA4, 0x00, 0x07, 0x0A, 0x08, 0x00, 0x04, 0xFF, 0xFF};
}

}  // namespace

int main(int argc, char** argv) {
    if (argc == 2 && (std::strcmp(argv[1], "--help") == 0 || std::strcmp(argv[1], "-h") == 0)) {
        usage(stdout);
        return 0;
    }
    Options o;
    if (!parse(argc, argv, o)) {
        usage(stderr);
        return 2;
    }
    // The whole image is read and checked before any board hears of it; a
    // text image goes to the burn as a raw copy from its lowest address.
    std::string burnPath = o.image;
    struct TemporaryFile {
        std::string path;
        ~TemporaryFile() { image::removeFile(path); }
    } temporaryImage;
    DWORD burnStart = o.start;
    if (o.command == "burn") {
        image::Image img;
        std::vector<std::uint8_t> fileBytes;
        image::ImageError error;
        if (!image::loadImage(o.image, o.format, img, fileBytes, error)) {
            std::fprintf(stderr, "ombra-cli: %s\n", image::describe(o.image, error).c_str());
            return 1;
        }
        if (img.format != image::Format::raw) {
            if (o.startGiven) {
                std::fprintf(stderr, "ombra-cli: --start is for raw images; %s places its records itself\n",
                             o.image.c_str());
                return 2;
            }
            std::string why;
            temporaryImage.path = image::writeTemporaryImage(img.bytes, why);
            if (temporaryImage.path.empty()) {
                std::fprintf(stderr, "ombra-cli: %s\n", why.c_str());
                return 1;
            }
            burnPath = temporaryImage.path;
            burnStart = img.start;
        }
        std::printf("Image %s: %s, %zu bytes from 0x%X, SHA-256 %s\n", o.image.c_str(), image::formatName(img.format),
                    img.bytes.size(), unsigned(burnStart), image::sha256Hex(img.bytes).c_str());
    }

    CoInitialize(nullptr);
    pipe::ParameterBlock block;
    if (!programmerClass(o.programmer, block.programmerClsid)) {
        std::fprintf(stderr, "ombra-cli: programmer component not registered\n");
        return 1;
    }
    block.programmerName = o.programmer;
    block.commDeviceName = o.port;
    block.dcb.BaudRate = o.baud;
    block.dcb.ByteSize = 8;
    block.dcb.setFlag(DCB::kBinary, true);
    block.dcb.setDtrControl(DTR_CONTROL_ENABLE);
    block.dcb.setRtsControl(RTS_CONTROL_ENABLE);
    block.dcb.XonChar = 0x11;
    block.dcb.XoffChar = 0x13;
    block.baudRate = o.baud;
    block.cbusTable = defaultCBusTable();
    const HANDLE cancel = CreateEvent(TRUE, FALSE);

    const bool burnCommand = o.command == "burn";
    ResultDetail detail;
    launcher::RunReport runLog;
    if (!o.log.empty()) {
        runLog.startedOn(launcher::startedOnText(std::time(nullptr)));
        runLog.imageFileName(o.image);
        runLog.comPort(o.port);
        runLog.baudRate(o.baud);
        runLog.action(o.verify);
    }

    std::vector<std::pair<std::string, RunOutcome>> runs;
    long device = o.device;
    if (o.command == "identify" || device < 0) {
        std::printf("Identify (%s on %s at %u baud)\n", o.programmer.c_str(), o.port.c_str(), unsigned(o.baud));
        block.operation = pipe::Operation::identify;
        const std::size_t before = detail.failures().size();
        RunOutcome r = runOne(JobKind::identify, "Wexom", block, cancel, argv[0], detail);
        judgeCompletion(r, burnCommand, "identify", detail);
        device = r.device;
        if (r.completed && r.status == pipe::E_STATUS_SUCCESS) {
            if (r.device < 0) {
                std::printf("  device not found in the programmer's table\n");
                detail.fail("device not found in the programmer's table");
            } else if (!o.log.empty()) {
                const std::string name = deviceName(block.programmerClsid, o.programmer, static_cast<DWORD>(r.device));
                if (!name.empty()) runLog.detectedFlashType(name);
            }
        }
        r.failures = detail.failures().size() - before;
        runs.emplace_back("identify", r);
    }
    if (detail.passed() && burnCommand) {
        std::printf("Burn%s %s at 0x%X (device %ld)\n", o.verify ? " and verify" : "", o.image.c_str(),
                    unsigned(burnStart), device);
        block.operation = pipe::Operation::burn;
        block.deviceNumber = static_cast<DWORD>(device);
        block.path = burnPath;
        block.start = burnStart;
        block.verifyFlag = o.verify ? 1 : 0;
        const std::size_t before = detail.failures().size();
        RunOutcome r = runOne(JobKind::burn, "Tordel", block, cancel, argv[0], detail);
        judgeCompletion(r, burnCommand, "burn", detail);
        r.failures = detail.failures().size() - before;
        runs.emplace_back(o.verify ? "burn and verify" : "burn", r);
    }
    if (detail.passed() && o.command == "dump") {
        std::printf("Dump 0x%X bytes from 0x%X into %s (device %ld)\n", unsigned(o.length), unsigned(o.start),
                    o.out.c_str(), device);
        block.operation = pipe::Operation::dump;
        block.deviceNumber = static_cast<DWORD>(device);
        block.path = o.out;
        block.start = o.start;
        block.dumpLength = o.length;
        const std::size_t before = detail.failures().size();
        RunOutcome r = runOne(JobKind::dump, "Lunet", block, cancel, argv[0], detail);
        judgeCompletion(r, burnCommand, "dump", detail);
        r.failures = detail.failures().size() - before;
        runs.emplace_back("dump", r);
    }
    CloseHandle(cancel);

    std::printf("\nReport\n");
    for (const auto& [name, r] : runs) {
        std::printf("  %-16s %-9s %7.2f s", name.c_str(), r.completed ? statusName(r.status) : "none",
                    r.milliseconds / 1000.0);
        if (name == "identify") std::printf("  device %d", int(r.device));
        if (r.failures != 0) std::printf("  failed");
        std::printf("\n");
    }
    const bool passed = detail.passed();
    std::printf("  result: %s\n", passed ? "passed" : "failed");
    for (const auto& failure : detail.failures()) std::printf("    %s\n", failure.c_str());
    std::fflush(stdout);

    bool logWritten = true;
    if (!o.log.empty()) {
        DWORD error = 0;
        const auto written = launcher::writeRunLog(o.log, runLog.finish(detail), &error);
        if (written != launcher::RunLogResult::written) {
            logWritten = false;
            std::fprintf(stderr, "ombra-cli: %s log file %s: %s\n",
                         written == launcher::RunLogResult::cannotCreate ? "cannot create" : "cannot write",
                         o.log.c_str(), GetErrorText(error).c_str());
        }
    }
    CoUninitialize();
    return passed && logWritten ? 0 : 1;
}
