// ombra-cli: a command-line front end on the launcher core. It runs the
// operations the dialog runs (identify, burn with or without verification,
// dump), unattended, and prints every record and a short report.
#include <cinttypes>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>
#include <string>
#include <vector>

#include "ombra/common/comm_records.h"
#include "ombra/launcher/launcher.h"
#include "ombra/platform/clock.h"
#include "ombra/platform/com.h"
#include "ombra/platform/event.h"
#include "ombra/platform/handle.h"
#include "ombra/platform/process.h"

using namespace ombra;
using launcher::JobKind;
using launcher::ServiceKind;
using launcher::ServiceRecord;

namespace {

void usage() {
    std::fputs(
        "usage: ombra-cli identify --port PORT [options]\n"
        "       ombra-cli burn --port PORT --image FILE [--verify] [options]\n"
        "       ombra-cli dump --port PORT --out FILE --length BYTES [options]\n"
        "options: --programmer NAME (a Burnix driver such as SST, Intel, AMD, or Cobalt,\n"
        "         Nickel, Copper; default SST), --device N (skips identification),\n"
        "         --start ADDRESS, --baud RATE (default 115200)\n",
        stderr);
}

struct Options {
    std::string command, port, image, out, programmer = "SST";
    DWORD baud = 115200, start = 0, length = 0;
    long device = -1;
    bool verify = false;
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
        else if (arg == "--baud" && parseNumber(value, n)) o.baud = n;
        else if (arg == "--start" && parseNumber(value, n)) o.start = n;
        else if (arg == "--length" && parseNumber(value, n)) o.length = n;
        else if (arg == "--device" && parseNumber(value, n) && n <= 0xFFFF) o.device = static_cast<long>(n);
        else return false;
    }
    if (o.port.empty()) return false;
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

struct RunReport {
    DWORD status = 0;
    std::int32_t device = -1;
    DWORD milliseconds = 0;
};

const char* statusName(DWORD code) {
    switch (code) {
    case pipe::E_STATUS_SUCCESS: return "SUCCESS";
    case pipe::E_STATUS_CANCELLED: return "CANCELLED";
    case pipe::E_STATUS_FAILURE: return "FAILURE";
    default: return "none";
    }
}

RunReport runOne(JobKind kind, const char* worker, pipe::ParameterBlock block, HANDLE cancel, const char* argv0) {
    launcher::WorkerJob job;
    job.kind = kind;
    job.workerName = worker;
    job.workerPath = workerPath(worker, argv0);
    job.block = std::move(block);
    job.cancelEvent = cancel;
    RunReport report;
    DWORD lastPercent = 101;
    launcher::WorkerLauncher run(std::move(job), [&](ServiceRecord r) {
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
            report.status = r.first;
            std::printf("  status %s (%u)\n", statusName(r.first), unsigned(r.second));
            break;
        }
        std::fflush(stdout);
    });
    const DWORD started = GetTickCount();
    run.run();
    report.milliseconds = GetTickCount() - started;
    report.device = run.identifiedDevice();
    return report;
}

// The table of the default C-bus file: chip selects for RAM and flash.
std::vector<std::uint8_t> defaultCBusTable() {
    return {0xFF, 0xA2, 0x3F, 0xFE, 0xFF, 0xA8, 0xA0, 0xBC, 0xFF, 0xA4, 0x00, 0x07, 0x0A, 0x08, 0x00, 0x04, 0xFF, 0xFF};
}

}  // namespace

int main(int argc, char** argv) {
    Options o;
    if (!parse(argc, argv, o)) {
        usage();
        return 2;
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

    std::vector<std::pair<std::string, RunReport>> reports;
    bool ok = true;
    long device = o.device;
    if (o.command == "identify" || device < 0) {
        std::printf("Identify (%s on %s at %u baud)\n", o.programmer.c_str(), o.port.c_str(), unsigned(o.baud));
        block.operation = pipe::Operation::identify;
        const RunReport r = runOne(JobKind::identify, "Wexom", block, cancel, argv[0]);
        reports.emplace_back("identify", r);
        ok = r.status == pipe::E_STATUS_SUCCESS && r.device >= 0;
        device = r.device;
        if (r.status == pipe::E_STATUS_SUCCESS && r.device < 0) std::printf("  device not found in the programmer's table\n");
    }
    if (ok && o.command == "burn") {
        std::printf("Burn%s %s at 0x%X (device %ld)\n", o.verify ? " and verify" : "", o.image.c_str(),
                    unsigned(o.start), device);
        block.operation = pipe::Operation::burn;
        block.deviceNumber = static_cast<DWORD>(device);
        block.path = o.image;
        block.start = o.start;
        block.verifyFlag = o.verify ? 1 : 0;
        const RunReport r = runOne(JobKind::burn, "Tordel", block, cancel, argv[0]);
        reports.emplace_back(o.verify ? "burn and verify" : "burn", r);
        ok = r.status == pipe::E_STATUS_SUCCESS;
    }
    if (ok && o.command == "dump") {
        std::printf("Dump 0x%X bytes from 0x%X into %s (device %ld)\n", unsigned(o.length), unsigned(o.start),
                    o.out.c_str(), device);
        block.operation = pipe::Operation::dump;
        block.deviceNumber = static_cast<DWORD>(device);
        block.path = o.out;
        block.start = o.start;
        block.dumpLength = o.length;
        const RunReport r = runOne(JobKind::dump, "Lunet", block, cancel, argv[0]);
        reports.emplace_back("dump", r);
        ok = r.status == pipe::E_STATUS_SUCCESS;
    }
    CloseHandle(cancel);

    std::printf("\nReport\n");
    for (const auto& [name, r] : reports) {
        std::printf("  %-16s %-9s %7.2f s", name.c_str(), statusName(r.status), r.milliseconds / 1000.0);
        if (name == "identify") std::printf("  device %d", int(r.device));
        std::printf("\n");
    }
    std::printf("  result: %s\n", ok ? "passed" : "failed");
    CoUninitialize();
    return ok ? 0 : 1;
}
