// The verdict of a run and the unattended run report, shared by the front
// ends: a run passes only when its result detail is empty, and a worker's
// status record alone never makes it pass (a failed verification arrives as
// a text of message class 0 followed by a success status).
#pragma once

#include <ctime>
#include <string>
#include <string_view>
#include <vector>

#include "ombra/launcher/launcher.h"
#include "ombra/platform/types.h"

namespace ombra::launcher {

// The failure lines of a run, in the report's own form.
class ResultDetail {
public:
    // Every record of a run may be given; only texts of message class 0 count
    // (" *\t" + text + "\n\r"). The launcher passes class 0 only from a burn.
    void add(const ServiceRecord& record);
    // What an unattended run adds for a completion: a failure gives
    // burningCancelled(), a cancel cancelledByUser(), a success nothing.
    void addCompletion(DWORD statusCode);

    // The dialog's own lines.
    void deviceUnrecognized();  // "\t WARNING : Flash device unrecognized, using default driver\n"
    void burningCancelled();    // " *\tERROR: burning cancelled\n\r"
    void cancelledByUser();     // " *\t CANCELLED BY USER \n\r\n"
    // A front end's own reason, formed like a worker's failure text.
    void fail(std::string_view text);

    bool passed() const { return text_.empty(); }
    // The detail as the report carries it.
    const std::string& text() const { return text_; }
    // One entry per line above, without the report's decoration.
    const std::vector<std::string>& failures() const { return failures_; }

private:
    void append(std::string_view line, std::string_view failure);

    std::string text_;
    std::vector<std::string> failures_;
};

// The report an unattended burn writes to its log file. Call the header
// lines first, in the order declared, then the run's lines, then finish().
class RunReport {
public:
    // " * Burning started on : %s \r\n"; `when` is already formatted
    // (startedOnText gives the dialog's form).
    void startedOn(std::string_view when);
    void imageFileName(std::string_view name);  // " * Binary image file name : %s \r\n"
    void comPort(std::string_view port);        // " * Com port : %s \r\n"
    void baudRate(DWORD baud);                  // " * Baud rate : %d \r\n"
    // " * Action : burn and verify \r\n" or " * Action : burn (no verify) \r\n".
    void action(bool verify);

    void defaultCBusTable();                      // "Could not open cbus file. Using default table.\r\n"
    void detectedFlashType(std::string_view name);  // " * Detected flash type : %s \n"
    // A line of the front end's own, "\r\n" added.
    void note(std::string_view line);

    // Appends " * Result: \n" and the detail, or "\tOK" when it is empty.
    // Only the first call appends; later ones leave the report as it is.
    const std::string& finish(const ResultDetail& detail);

    bool finished() const { return finished_; }
    const std::string& text() const { return text_; }

private:
    std::string text_;
    bool finished_ = false;
};

// Local date and time in the report's "%x,%X" form.
std::string startedOnText(std::time_t when);

enum class RunLogResult {
    written,
    noPath,        // no log file asked for: nothing done
    cannotCreate,  // the file could not be created; nothing written
    writeFailed,   // created, but the bytes did not all get there
};

// Creates (or truncates) `path` and writes `bytes` exactly as they are. On a
// failure `*error` (when given) gets the system's error number (GetErrorText
// makes a text of it).
RunLogResult writeRunLog(const std::string& path, std::string_view bytes, DWORD* error = nullptr);

}  // namespace ombra::launcher
