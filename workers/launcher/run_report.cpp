#include "ombra/launcher/run_report.h"

#include <mutex>

#include "ombra/common/pipe_protocol.h"
#include "ombra/platform/file.h"
#include "ombra/platform/handle.h"
#include "ombra/platform/pipe.h"

namespace ombra::launcher {

void ResultDetail::append(std::string_view line, std::string_view failure) {
    text_.append(line);
    failures_.emplace_back(failure);
}

void ResultDetail::add(const ServiceRecord& record) {
    if (record.kind != ServiceKind::SERVICE_TEXT || record.first != 0) return;
    // The dialog holds the text as a zero-terminated copy.
    const std::string_view text(record.text.c_str());
    fail(text);
}

void ResultDetail::addCompletion(DWORD statusCode) {
    if (statusCode == pipe::E_STATUS_SUCCESS) return;
    if (statusCode == pipe::E_STATUS_CANCELLED) {
        cancelledByUser();
        return;
    }
    // The launcher posts no other codes; one would not be a success either.
    burningCancelled();
}

void ResultDetail::deviceUnrecognized() {
    append("\t WARNING : Flash device unrecognized, using default driver\n",
           "WARNING : Flash device unrecognized, using default driver");
}

void ResultDetail::burningCancelled() { append(" *\tERROR: burning cancelled\n\r", "ERROR: burning cancelled"); }

void ResultDetail::cancelledByUser() { append(" *\t CANCELLED BY USER \n\r\n", "CANCELLED BY USER"); }

void ResultDetail::fail(std::string_view text) {
    std::string line = " *\t";
    line.append(text);
    line.append("\n\r");
    append(line, text);
}

void RunReport::startedOn(std::string_view when) {
    text_.append(" * Burning started on : ").append(when).append(" \r\n");
}

void RunReport::imageFileName(std::string_view name) {
    text_.append(" * Binary image file name : ").append(name).append(" \r\n");
}

void RunReport::comPort(std::string_view port) { text_.append(" * Com port : ").append(port).append(" \r\n"); }

void RunReport::baudRate(DWORD baud) {
    text_.append(" * Baud rate : ").append(std::to_string(baud)).append(" \r\n");
}

void RunReport::action(bool verify) {
    text_.append(verify ? " * Action : burn and verify \r\n" : " * Action : burn (no verify) \r\n");
}

void RunReport::defaultCBusTable() { text_.append("Could not open cbus file. Using default table.\r\n"); }

void RunReport::note(std::string_view line) {
    text_.append(line);
    text_.append("\r\n");
}

void RunReport::detectedFlashType(std::string_view name) {
    text_.append(" * Detected flash type : ").append(name).append(" \n");
}

const std::string& RunReport::finish(const ResultDetail& detail) {
    if (finished_) return text_;
    finished_ = true;
    text_.append(" * Result: \n");
    text_.append(detail.passed() ? std::string_view("\tOK") : std::string_view(detail.text()));
    return text_;
}

std::string startedOnText(std::time_t when) {
    // std::localtime hands out one shared record.
    static std::mutex lock;
    std::tm local{};
    {
        std::lock_guard guard(lock);
        const std::tm* t = std::localtime(&when);
        if (t == nullptr) return {};
        local = *t;
    }
    char buffer[256];
    const std::size_t n = std::strftime(buffer, sizeof buffer, "%x,%X", &local);
    return std::string(buffer, n);
}

RunLogResult writeRunLog(const std::string& path, std::string_view bytes, DWORD* error) {
    if (path.empty()) return RunLogResult::noPath;
    auto failed = [&](RunLogResult result) {
        if (error != nullptr) *error = GetLastError();
        return result;
    };
    const HANDLE file = CreateFileA(path.c_str(), GENERIC_WRITE, CREATE_ALWAYS);
    if (file == INVALID_HANDLE_VALUE || file == nullptr) return failed(RunLogResult::cannotCreate);

    bool ok = true;
    std::size_t done = 0;
    while (ok && done < bytes.size()) {
        constexpr std::size_t kPiece = 1u << 20;
        const DWORD piece = static_cast<DWORD>(bytes.size() - done < kPiece ? bytes.size() - done : kPiece);
        DWORD written = 0;
        ok = WriteFile(file, bytes.data() + done, piece, &written) != 0 && written == piece;
        done += written;
    }
    DWORD lastError = ok ? 0 : GetLastError();
    if (!CloseHandle(file) && ok) {
        ok = false;
        lastError = GetLastError();
    }
    if (ok) return RunLogResult::written;
    if (error != nullptr) *error = lastError;
    return RunLogResult::writeFailed;
}

}  // namespace ombra::launcher
