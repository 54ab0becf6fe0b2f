// ombra-cli: a command-line front end on the launcher core. It runs the
// operations the dialog runs (identify, burn with or without verification,
// dump), unattended, on one board or on many in parallel, and prints every
// record and a report. A run is judged as the dialog's run report judges
// it: a failure text (message class 0) fails it even when the worker's
// status says success.
#include <atomic>
#include <chrono>
#include <cstdio>
#include <map>
#include <memory>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "board_run.h"
#include "cli_options.h"
#include "display.h"
#include "ombra/image/image.h"
#include "ombra/platform/clock.h"
#include "ombra/platform/com.h"
#include "ombra/platform/console.h"
#include "ombra/platform/event.h"
#include "ombra/platform/handle.h"
#include "ombra/platform/process.h"
#include "report.h"

using namespace ombra;
using namespace ombra::cli;

namespace {

#ifndef OMBRA_VERSION
#define OMBRA_VERSION "unknown"
#endif

// After Ctrl-C every worker ends through its cancel event well within this
// (an upload gives its thread 5 s); one that does not is killed.
constexpr DWORD kCancelGraceMs = 20'000;

// The chip-family programmers by their own names, any other name as a driver
// of the configurable programmer.
bool programmerClass(const std::string& name, CLSID& clsid) {
    static const std::map<std::string, const char*> kFamilies = {
        {"Cobalt", "Tarvik.SelkanKLCobalt"}, {"Nickel", "Tarvik.SelkanKLNickel"}, {"Copper", "Tarvik.SelkanKLCopper"}};
    const auto family = kFamilies.find(name);
    return SUCCEEDED(platform::clsidFromProgId(family != kFamilies.end() ? family->second : "Tarvik.SelkanKLBurnix", &clsid));
}

// The table of the default C-bus file: chip selects for RAM and flash.
std::vector<std::uint8_t> defaultCBusTable() {
    return {0xFF, 0xA2, 0x3F, 0xFE, 0xFF, 0xA8, 0xA0, 0xBC, 0xFF, 0xA4, 0x00, 0x07, 0x0A, 0x08, 0x00, 0x04, 0xFF, 0xFF};
}

std::string programFolder(const char* argv0) {
    const std::string self = GetProgramPath().empty() ? std::string(argv0) : GetProgramPath();
    const auto slash = self.rfind('/');
    return slash == std::string::npos ? std::string(".") : self.substr(0, slash);
}

pipe::ParameterBlock commonBlock(const Options& o, const CLSID& programmer) {
    pipe::ParameterBlock block;
    block.programmerClsid = programmer;
    block.programmerName = o.programmer;
    block.dcb.BaudRate = o.baud;
    block.dcb.ByteSize = 8;
    block.dcb.setFlag(DCB::kBinary, true);
    block.dcb.setDtrControl(DTR_CONTROL_ENABLE);
    block.dcb.setRtsControl(RTS_CONTROL_ENABLE);
    block.dcb.XonChar = 0x11;
    block.dcb.XoffChar = 0x13;
    block.baudRate = o.baud;
    block.cbusTable = defaultCBusTable();
    return block;
}

struct TemporaryFile {
    std::string path;
    ~TemporaryFile() { image::removeFile(path); }
};

// The run's end: the report file when asked for, and the exit code.
int finish(RunSummary& run, bool printed) {
    run.ended = std::chrono::system_clock::now();
    if (printed) printReport(stdout, run);
    int code = exitCodeOf(run);
    if (!run.options.report.empty()) {
        std::string error;
        if (!writeReport(run.options.report, reportJson(run), error)) {
            std::fprintf(stderr, "ombra-cli: %s\n", error.c_str());
            if (code == kExitPassed) code = kExitFailed;
        }
    }
    return code;
}

// A run that ends before any board is reached.
int failEarly(RunSummary& run, const std::string& error) {
    run.error = error;
    std::fprintf(stderr, "ombra-cli: %s\n", error.c_str());
    return finish(run, false);
}

}  // namespace

int main(int argc, char** argv) {
    const std::vector<std::string> args(argv + 1, argv + argc);
    Options o;
    const ParseResult parsed = parseOptions(args, o);
    if (parsed.kind == ParseResult::Kind::help) {
        std::fputs(usageText(), stdout);
        return kExitPassed;
    }
    if (parsed.kind == ParseResult::Kind::usageError) {
        std::fprintf(stderr, "ombra-cli: %s\n", parsed.error.c_str());
        std::fputs(usageText(), stderr);
        return kExitUsage;
    }
    // From here on Ctrl-C cancels the boards instead of ending the program;
    // taken before any worker starts, so the workers never see it themselves.
    const HANDLE interrupt = platform::catchConsoleInterrupt();
    if (interrupt == nullptr)
        std::fprintf(stderr, "ombra-cli: Ctrl-C cannot be caught: %s\n", GetErrorText(GetLastError()).c_str());

    std::vector<std::string> ports = o.ports;
    if (o.portsFromRegistry) {
        std::set<std::string> seen(ports.begin(), ports.end());
        for (const auto& p : registryPorts())
            if (seen.insert(p).second) ports.push_back(p);
    }
    if (const std::string why = checkBoards(o, ports.size()); !why.empty()) {
        std::fprintf(stderr, "ombra-cli: %s\n", why.c_str());
        std::fputs(usageText(), stderr);
        return kExitUsage;
    }

    RunSummary run;
    run.version = OMBRA_VERSION;
    run.options = o;
    run.started = std::chrono::system_clock::now();

    // The whole image is read and checked before any board hears of it; a
    // text image goes to the burn as a raw copy from its lowest address.
    RunPlan plan;
    plan.options = o;
    plan.programFolder = programFolder(argv[0]);
    plan.burnPath = o.image;
    plan.burnStart = o.start;
    TemporaryFile temporaryImage;
    if (o.command == Command::burn) {
        image::Image img;
        std::vector<std::uint8_t> fileBytes;
        image::ImageError error;
        if (!image::loadImage(o.image, o.format, img, fileBytes, error))
            return failEarly(run, image::describe(o.image, error));
        if (img.format != image::Format::raw) {
            if (o.startGiven) {
                std::fprintf(stderr, "ombra-cli: --start is for raw images; %s places its records itself\n",
                             o.image.c_str());
                return kExitUsage;
            }
            std::string why;
            temporaryImage.path = image::writeTemporaryImage(img.bytes, why);
            if (temporaryImage.path.empty()) return failEarly(run, why);
            plan.burnPath = temporaryImage.path;
            plan.burnStart = img.start;
        }
        ImageSummary summary;
        summary.name = o.image;
        summary.format = image::formatName(img.format);
        summary.fileSize = fileBytes.size();
        summary.fileSha256 = image::sha256Hex(fileBytes);
        summary.start = plan.burnStart;
        summary.size = img.bytes.size();
        summary.sha256 = img.format == image::Format::raw ? summary.fileSha256 : image::sha256Hex(img.bytes);
        std::printf("Image %s: %s, %zu bytes from 0x%X, SHA-256 %s\n", o.image.c_str(), summary.format.c_str(),
                    img.bytes.size(), unsigned(plan.burnStart), summary.sha256.c_str());
        run.image = summary;
    }

    CoInitialize(nullptr);
    CLSID programmer{};
    if (!programmerClass(o.programmer, programmer)) {
        CoUninitialize();
        return failEarly(run, "programmer component not registered");
    }
    plan.block = commonBlock(o, programmer);

    if (interrupt != nullptr && WaitForSingleObject(interrupt, 0) == WAIT_OBJECT_0) {
        run.interrupted = true;
        CoUninitialize();
        return failEarly(run, "cancelled before any board was reached");
    }

    const bool live = !o.plain && platform::standardOutputIsTerminal();
    const std::unique_ptr<Display> display =
        live ? Display::live(ports, stdout, platform::terminalColumns()) : Display::plain(ports.size(), stdout);
    if (ports.size() > 1) display->line("Boards: " + std::to_string(ports.size()));

    DeviceNames names;
    std::vector<std::unique_ptr<BoardRun>> boards;
    for (std::size_t i = 0; i < ports.size(); ++i)
        boards.push_back(std::make_unique<BoardRun>(plan, i + 1, ports[i], *display, names));
    const HANDLE allDone = CreateEvent(TRUE, FALSE);
    std::atomic<std::size_t> running{boards.size()};
    std::vector<std::thread> threads;
    for (auto& b : boards)
        threads.emplace_back([&running, allDone, board = b.get()] {
            board->run();
            if (--running == 0) SetEvent(allDone);
        });

    bool abandoned = false;
    DWORD cancelledAt = 0;
    for (;;) {
        const HANDLE waits[2] = {allDone, interrupt != nullptr ? interrupt : INVALID_HANDLE_VALUE};
        const DWORD w = WaitForMultipleObjects(2, waits, FALSE, 500);
        if (w == WAIT_OBJECT_0) break;
        if (w == WAIT_OBJECT_0 + 1) {
            ResetEvent(interrupt);
            if (!run.interrupted) {
                run.interrupted = true;
                cancelledAt = GetTickCount();
                display->line("Cancelling every board (Ctrl-C again stops their workers at once)");
                for (auto& b : boards) b->cancel();
            } else if (!abandoned) {
                abandoned = true;
                display->line("Stopping the workers");
                for (auto& b : boards) b->abandon();
            }
        } else if (w == WAIT_FAILED) {
            Sleep(100);  // never a busy loop, whatever the wait says
        }
        if (run.interrupted && !abandoned && GetTickCount() - cancelledAt > kCancelGraceMs) {
            abandoned = true;
            display->line("Stopping the workers that did not end on the cancel");
            for (auto& b : boards) b->abandon();
        }
        display->refresh();
    }
    for (auto& t : threads) t.join();
    CloseHandle(allDone);
    display->close();

    for (const auto& b : boards) {
        run.boards.push_back(b->result());
        if (!b->result().logError.empty()) std::fprintf(stderr, "ombra-cli: %s\n", b->result().logError.c_str());
    }
    boards.clear();
    CoUninitialize();
    const int code = finish(run, true);
    if (interrupt != nullptr) CloseHandle(interrupt);
    return code;
}
