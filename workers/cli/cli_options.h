// ombra-cli's command line: what to run on which boards, checked in full
// before anything runs.
#pragma once

#include <cstddef>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "ombra/image/image.h"
#include "ombra/platform/types.h"

namespace ombra::cli {

// Exit codes, as --help and the manual page give them.
inline constexpr int kExitPassed = 0;
inline constexpr int kExitFailed = 1;
inline constexpr int kExitUsage = 2;
inline constexpr int kExitCancelled = 3;

inline constexpr std::size_t kMaxBoards = 32;
inline constexpr unsigned kMaxRetries = 10;

enum class Command { identify, burn, dump };

struct Options {
    Command command = Command::identify;
    std::vector<std::string> ports;  // --port, in order
    bool portsFromRegistry = false;
    std::string image, out, log, report;
    std::string programmer = "SST";
    DWORD baud = 115200, start = 0, length = 0;
    bool startGiven = false;
    long device = -1;  // -1: identify first
    bool verify = false;
    std::optional<image::Format> format;  // empty: by content
    unsigned retries = 0;
    bool plain = false;  // plain lines even on a terminal
};

struct ParseResult {
    enum class Kind { run, help, usageError } kind = Kind::run;
    std::string error;  // with usageError
};

// argv[1..]. Checks everything that can be checked before the ports are
// known; checkBoards checks the rest.
ParseResult parseOptions(std::span<const std::string> args, Options& options);

// The per-board file names: with several boards --out and --log must name
// each board's own file through {n} (its place, from 1) or {port} (the
// port's last path part). Empty when fine, else the usage error.
std::string checkBoards(const Options& options, std::size_t boards);
std::string perBoardPath(const std::string& pattern, std::size_t number, const std::string& port);

// The ports listed under HKLM "HARDWARE\DEVICEMAP\SERIALCOMM" (text values,
// in the key's order; empty ones left out).
std::vector<std::string> registryPorts();

// --help's text.
const char* usageText();

}  // namespace ombra::cli
