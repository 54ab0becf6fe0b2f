#include "report.h"

#include <ctime>

#include "ombra/launcher/run_report.h"
#include "ombra/platform/handle.h"

namespace ombra::cli {

namespace {

const char* commandName(Command c) {
    switch (c) {
    case Command::identify: return "identify";
    case Command::burn: return "burn";
    case Command::dump: return "dump";
    }
    return "identify";
}

double rounded(double seconds) { return static_cast<double>(static_cast<long long>(seconds * 1000.0 + 0.5)) / 1000.0; }

nlohmann::json operationJson(const OperationResult& op) {
    nlohmann::json j = {
        {"name", op.name},
        {"attempt", op.attempt},
        {"status", op.completed ? nlohmann::json(statusName(op.status)) : nlohmann::json(nullptr)},
        {"result", verdictName(op.outcome)},
        {"seconds", rounded(op.seconds)},
        {"class0_texts", op.messages},
        {"failures", op.failures},
    };
    if (op.name == "identify") j["device_index"] = op.device;
    return j;
}

nlohmann::json boardJson(const BoardResult& b) {
    nlohmann::json device = nullptr;
    if (b.device >= 0)
        device = {{"index", b.device}, {"name", b.deviceName.empty() ? nlohmann::json(nullptr) : nlohmann::json(b.deviceName)}};
    nlohmann::json operations = nlohmann::json::array();
    for (const auto& op : b.operations) operations.push_back(operationJson(op));
    nlohmann::json j = {
        {"number", b.number},
        {"port", b.port},
        {"programmer", b.programmer},
        {"device", device},
        {"result", verdictName(b.verdict)},
        {"attempts", b.attempts},
        {"retries", b.attempts > 0 ? b.attempts - 1 : 0},
        {"operations", operations},
        {"failures", b.failures},
    };
    if (!b.outputFile.empty()) j["output_file"] = b.outputFile;
    if (!b.logFile.empty()) {
        j["log_file"] = b.logFile;
        j["log_error"] = b.logError.empty() ? nlohmann::json(nullptr) : nlohmann::json(b.logError);
    }
    return j;
}

void printOperations(std::FILE* out, const BoardResult& b, const char* indent) {
    for (const auto& op : b.operations) {
        std::fprintf(out, "%s%-16s %-9s %7.2f s", indent, op.name.c_str(), op.completed ? statusName(op.status) : "none",
                     op.seconds);
        if (op.name == "identify") std::fprintf(out, "  device %d", int(op.device));
        if (op.attempt > 1) std::fprintf(out, "  attempt %u", op.attempt);
        if (op.outcome != Verdict::passed) std::fprintf(out, "  %s", verdictName(op.outcome));
        std::fprintf(out, "\n");
    }
}

}  // namespace

int exitCodeOf(const RunSummary& run) {
    if (run.interrupted) return kExitCancelled;
    if (!run.error.empty() || run.boards.empty()) return kExitFailed;
    for (const auto& b : run.boards)
        if (b.verdict != Verdict::passed || !b.logError.empty()) return kExitFailed;
    return kExitPassed;
}

const char* resultName(const RunSummary& run) {
    switch (exitCodeOf(run)) {
    case kExitPassed: return "passed";
    case kExitCancelled: return "cancelled";
    default: return "failed";
    }
}

std::string isoTime(std::chrono::system_clock::time_point when) {
    const auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(when.time_since_epoch()).count();
    const std::time_t seconds = static_cast<std::time_t>(ms / 1000);
    std::tm utc{};
    if (const std::tm* t = std::gmtime(&seconds)) utc = *t;
    char text[40];
    const std::size_t n = std::strftime(text, sizeof text, "%Y-%m-%dT%H:%M:%S", &utc);
    std::snprintf(text + n, sizeof text - n, ".%03dZ", static_cast<int>(ms % 1000));
    return text;
}

nlohmann::json reportJson(const RunSummary& run) {
    const Options& o = run.options;
    nlohmann::json image = nullptr;
    if (run.image) {
        const ImageSummary& i = *run.image;
        image = {{"name", i.name},         {"format", i.format}, {"file_size", i.fileSize},
                 {"file_sha256", i.fileSha256}, {"start", i.start},   {"size", i.size},
                 {"sha256", i.sha256}};
    }
    nlohmann::json boards = nlohmann::json::array();
    for (const auto& b : run.boards) boards.push_back(boardJson(b));
    const double seconds = std::chrono::duration<double>(run.ended - run.started).count();
    return {
        {"tool", "ombra-cli"},
        {"version", run.version},
        {"command", commandName(o.command)},
        {"verify", o.verify},
        {"programmer", o.programmer},
        {"baud", o.baud},
        {"retries", o.retries},
        {"started", isoTime(run.started)},
        {"ended", isoTime(run.ended)},
        {"seconds", rounded(seconds)},
        {"image", image},
        {"result", resultName(run)},
        {"exit_code", exitCodeOf(run)},
        {"error", run.error.empty() ? nlohmann::json(nullptr) : nlohmann::json(run.error)},
        {"boards", boards},
    };
}

bool writeReport(const std::string& path, const nlohmann::json& report, std::string& error) {
    // Texts from boards and files need not be UTF-8: such bytes are replaced,
    // never a reason to lose the report.
    const std::string text = report.dump(2, ' ', false, nlohmann::json::error_handler_t::replace) + "\n";
    DWORD code = 0;
    const auto written = launcher::writeRunLog(path, text, &code);
    if (written == launcher::RunLogResult::written) return true;
    error = std::string(written == launcher::RunLogResult::cannotCreate ? "cannot create" : "cannot write") +
            " report " + path + ": " + GetErrorText(code);
    return false;
}

void printReport(std::FILE* out, const RunSummary& run) {
    std::fprintf(out, "\nReport\n");
    const bool several = run.boards.size() > 1;
    std::size_t notPassed = 0;
    for (const auto& b : run.boards) {
        if (b.verdict != Verdict::passed) ++notPassed;
        if (several) {
            std::fprintf(out, "  [%zu] %s: %s", b.number, b.port.c_str(), verdictName(b.verdict));
            if (b.attempts > 1) std::fprintf(out, " after %u attempts", b.attempts);
            std::fprintf(out, "\n");
            printOperations(out, b, "      ");
            if (b.verdict != Verdict::passed)
                for (const auto& f : b.failures) std::fprintf(out, "        %s\n", f.c_str());
        } else {
            printOperations(out, b, "  ");
        }
        if (!b.logError.empty()) std::fprintf(out, "  %s\n", b.logError.c_str());
    }
    if (!run.error.empty()) std::fprintf(out, "  %s\n", run.error.c_str());
    if (several) {
        std::fprintf(out, "  result: %s (%zu of %zu boards passed)\n", resultName(run),
                     run.boards.size() - notPassed, run.boards.size());
    } else {
        // A single board: its verdict, then its failing texts.
        const bool passed = !run.boards.empty() && run.boards.front().verdict == Verdict::passed;
        const char* result = run.interrupted && !passed ? "cancelled" : passed ? "passed" : "failed";
        std::fprintf(out, "  result: %s", result);
        if (passed && run.boards.front().attempts > 1)
            std::fprintf(out, " (attempt %u)", run.boards.front().attempts);
        std::fprintf(out, "\n");
        if (!run.boards.empty())
            for (const auto& f : run.boards.front().failures) std::fprintf(out, "    %s\n", f.c_str());
    }
    std::fflush(out);
}

}  // namespace ombra::cli
