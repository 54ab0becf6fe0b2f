#include "cli_options.h"

#include <cstdlib>
#include <set>

#include "ombra/common/names.h"
#include "ombra/platform/registry.h"

namespace ombra::cli {

namespace {

constexpr const char* kSerialCommKey = "HARDWARE\\DEVICEMAP\\SERIALCOMM";

bool parseNumber(const std::string& text, DWORD& value) {
    if (text.empty() || text[0] == '-' || text[0] == '+') return false;
    char* end = nullptr;
    const unsigned long long v = std::strtoull(text.c_str(), &end, 0);
    if (end == text.c_str() || *end != '\0' || v > 0xFFFFFFFFull) return false;
    value = static_cast<DWORD>(v);
    return true;
}

bool namesEachBoard(const std::string& pattern) {
    return pattern.find("{n}") != std::string::npos || pattern.find("{port}") != std::string::npos;
}

ParseResult usageError(std::string why) { return {ParseResult::Kind::usageError, std::move(why)}; }

}  // namespace

const char* usageText() {
    return "usage: ombra-cli identify PORTS [options]\n"
           "       ombra-cli burn PORTS --image FILE [--verify] [options]\n"
           "       ombra-cli dump PORTS --out FILE --length BYTES [options]\n"
           "PORTS: --port PORT, repeated for several boards, and/or --ports-from-registry\n"
           "       (every port listed under HARDWARE\\DEVICEMAP\\SERIALCOMM); the boards run\n"
           "       in parallel, each with a worker of its own\n"
           "options:\n"
           "  --programmer NAME   a Burnix driver (SST, Intel, AMD) or Cobalt, Nickel, Copper\n"
           "                      (default SST)\n"
           "  --device N          the device of the programmer's table (skips identification)\n"
           "  --baud RATE         working baud rate (default 115200)\n"
           "  --start ADDRESS     burn start of a raw image, dump start (default 0)\n"
           "  --format F          burn image format: auto (default: Intel HEX and S-record\n"
           "                      by their content, raw binary otherwise), raw, ihex, srec\n"
           "  --out FILE          dump target; with several boards it names each board's\n"
           "                      file through {n} (the board's place, from 1) or {port}\n"
           "  --log FILE          burn only: the unattended run report ({n}, {port} as --out)\n"
           "  --report FILE.json  a JSON report of the whole run\n"
           "  --retries N         re-run a failed board from the start up to N times (0-10)\n"
           "  --plain             plain lines even on a terminal\n"
           "  --help              this text\n"
           "Ctrl-C cancels every board through its cancel event.\n"
           "exit codes: 0 passed (every board); 1 failed (at least one board failed or\n"
           "            reported a failure, such as a failed verification, or the image,\n"
           "            a log or the report could not be read or written); 2 usage error;\n"
           "            3 cancelled (Ctrl-C)\n";
}

ParseResult parseOptions(std::span<const std::string> args, Options& o) {
    if (args.size() == 1 && (args[0] == "--help" || args[0] == "-h")) return {ParseResult::Kind::help, {}};
    if (args.empty()) return usageError("no command");
    if (args[0] == "identify") o.command = Command::identify;
    else if (args[0] == "burn") o.command = Command::burn;
    else if (args[0] == "dump") o.command = Command::dump;
    else return usageError("unknown command " + args[0]);

    bool formatGiven = false;
    for (std::size_t i = 1; i < args.size(); ++i) {
        const std::string& arg = args[i];
        if (arg == "--verify") {
            o.verify = true;
            continue;
        }
        if (arg == "--ports-from-registry") {
            o.portsFromRegistry = true;
            continue;
        }
        if (arg == "--plain") {
            o.plain = true;
            continue;
        }
        if (arg == "--help" || arg == "-h") return {ParseResult::Kind::help, {}};
        if (i + 1 >= args.size()) return usageError(arg + " needs a value");
        const std::string& value = args[++i];
        DWORD n = 0;
        auto bad = [&] { return usageError("bad value for " + arg + ": " + value); };
        if (arg == "--port") {
            if (value.empty()) return bad();
            o.ports.push_back(value);
        } else if (arg == "--image") {
            o.image = value;
        } else if (arg == "--out") {
            o.out = value;
        } else if (arg == "--programmer") {
            if (value.empty()) return bad();
            o.programmer = value;
        } else if (arg == "--log") {
            if (value.empty()) return bad();
            o.log = value;
        } else if (arg == "--report") {
            if (value.empty()) return bad();
            o.report = value;
        } else if (arg == "--baud") {
            if (!parseNumber(value, n) || n == 0) return bad();
            o.baud = n;
        } else if (arg == "--start") {
            if (!parseNumber(value, n)) return bad();
            o.start = n;
            o.startGiven = true;
        } else if (arg == "--length") {
            if (!parseNumber(value, n)) return bad();
            o.length = n;
        } else if (arg == "--device") {
            if (!parseNumber(value, n) || n > 0xFFFF) return bad();
            o.device = static_cast<long>(n);
        } else if (arg == "--format") {
            if (!image::parseFormatName(value, o.format)) return bad();
            formatGiven = true;
        } else if (arg == "--retries") {
            if (!parseNumber(value, n) || n > kMaxRetries) return bad();
            o.retries = n;
        } else {
            return usageError("unknown option " + arg);
        }
    }

    if (o.ports.empty() && !o.portsFromRegistry) return usageError("no port (--port or --ports-from-registry)");
    std::set<std::string> seen;
    for (const auto& p : o.ports)
        if (!seen.insert(p).second) return usageError("port " + p + " given twice");
    if (o.ports.size() > kMaxBoards) return usageError("more than " + std::to_string(kMaxBoards) + " boards");
    const bool burn = o.command == Command::burn;
    if (!o.log.empty() && !burn) return usageError("--log is for burn only");
    if (formatGiven && !burn) return usageError("--format is for burn only");
    if (burn && o.image.empty()) return usageError("burn needs --image");
    if (o.command == Command::dump && (o.out.empty() || o.length == 0))
        return usageError("dump needs --out and --length");
    return {};
}

std::string checkBoards(const Options& o, std::size_t boards) {
    if (boards == 0) return "no port listed under HARDWARE\\DEVICEMAP\\SERIALCOMM";
    if (boards > kMaxBoards) return "more than " + std::to_string(kMaxBoards) + " boards";
    if (boards == 1) return {};
    if (!o.out.empty() && !namesEachBoard(o.out)) return "with several boards --out needs {n} or {port}";
    if (!o.log.empty() && !namesEachBoard(o.log)) return "with several boards --log needs {n} or {port}";
    return {};
}

std::string perBoardPath(const std::string& pattern, std::size_t number, const std::string& port) {
    const auto slash = port.find_last_of("/\\");
    const std::string portName = slash == std::string::npos ? port : port.substr(slash + 1);
    // The port comes from the command line or the registry: a name such as
    // ".." would lead the file out of the folder the pattern names.
    if (pattern.find("{port}") != std::string::npos && !isPlainName(portName)) return {};
    std::string path;
    for (std::size_t i = 0; i < pattern.size();) {
        if (pattern.compare(i, 3, "{n}") == 0) {
            path += std::to_string(number);
            i += 3;
        } else if (pattern.compare(i, 6, "{port}") == 0) {
            path += portName;
            i += 6;
        } else {
            path += pattern[i++];
        }
    }
    return path;
}

std::vector<std::string> registryPorts() {
    std::vector<std::string> ports;
    ombra::platform::RegKey key;
    if (key.open(HKEY_LOCAL_MACHINE, kSerialCommKey, KEY_READ) != ERROR_SUCCESS) return ports;
    for (DWORD index = 0; index < 1024; ++index) {
        char name[256];
        BYTE data[1024];
        DWORD nameLen = sizeof name, dataLen = sizeof data - 1, type = 0;
        const LONG r = RegEnumValueA(key.get(), index, name, &nameLen, nullptr, &type, data, &dataLen);
        if (r == ERROR_NO_MORE_ITEMS) break;
        // A name or path too long for any port is passed over.
        if (r != ERROR_SUCCESS || type != REG_SZ) continue;
        std::string port(reinterpret_cast<const char*>(data), dataLen);
        while (!port.empty() && port.back() == '\0') port.pop_back();
        if (!port.empty()) ports.push_back(port);
    }
    return ports;
}

}  // namespace ombra::cli
