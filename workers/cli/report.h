// The end of an ombra-cli run: its exit code, the report printed on the
// console and the JSON document of --report.
#pragma once

#include <chrono>
#include <cstdint>
#include <cstdio>
#include <optional>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#include "board_run.h"
#include "cli_options.h"

namespace ombra::cli {

struct ImageSummary {
    std::string name;  // as given on the command line
    std::string format;
    std::uint64_t fileSize = 0;
    std::string fileSha256;
    std::uint32_t start = 0;  // the burn start
    std::uint64_t size = 0;   // bytes burned
    std::string sha256;       // of the bytes burned
};

struct RunSummary {
    std::string version;
    Options options;
    std::chrono::system_clock::time_point started, ended;
    std::optional<ImageSummary> image;
    std::vector<BoardResult> boards;
    bool interrupted = false;  // Ctrl-C came while boards ran
    std::string error;         // what ended the run before any board ran
};

// 3 when interrupted; 1 when the run could not start, a board did not pass
// or its log could not be written; 0 otherwise.
int exitCodeOf(const RunSummary& run);
// "passed", "failed" or "cancelled", as exitCodeOf judges.
const char* resultName(const RunSummary& run);

// UTC, ISO 8601 with milliseconds ("2024-05-01T09:30:00.125Z").
std::string isoTime(std::chrono::system_clock::time_point when);

nlohmann::json reportJson(const RunSummary& run);
// The document as --report writes it; false with the reason on failure.
bool writeReport(const std::string& path, const nlohmann::json& report, std::string& error);

// "Report", the operations of each board, and the result with the failing
// texts. One board: as the single-board tool always printed it.
void printReport(std::FILE* out, const RunSummary& run);

}  // namespace ombra::cli
