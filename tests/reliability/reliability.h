// What the fault matrix and the cancel storm share: how a run's end is
// judged against the board's contents, the tally per fault kind, and the
// look for what a run may leave behind (workers, lock files, temporary files).
#pragma once

#include <array>
#include <cstdint>
#include <map>
#include <string>
#include <vector>

namespace ombra::reliability {

// How a run ended, judged against the truth (the flash, the dumped file).
enum class Verdict {
    passed,        // said it passed, and the contents agree
    failedCleanly, // said it failed (or was cancelled) and ended by itself
    falseSuccess,  // said it passed, but the contents differ
    unverified,    // a burn without verification passed with other contents:
                   // its raw stream carries no check, so only a verify sees it
    stopped,       // waited past its limit (the link's unlimited waits) and
                   // ended on the cancel, as the dialog's Stop ends it
    hang,          // did not end even on the cancel; killed
};
inline constexpr std::size_t kVerdicts = 6;
const char* verdictName(Verdict v);

// The verdict of a run that ended by itself. `claimsPass` is the front
// end's verdict; `contentsAgree` the comparison with the truth;
// `verified` whether the operation checks what it wrote or read.
Verdict judge(bool claimsPass, bool contentsAgree, bool verified);

// True for verdicts that must make the program fail.
inline bool isFault(Verdict v) { return v == Verdict::falseSuccess || v == Verdict::hang; }

class Tally {
public:
    void add(const std::string& group, Verdict v);
    std::size_t count(const std::string& group, Verdict v) const;
    std::size_t faults() const;
    // A table: one row per group and a total.
    std::string table(const std::string& groupTitle) const;

private:
    std::map<std::string, std::array<std::size_t, kVerdicts>> rows_;
};

// Folders where the front end's lock files live (the runtime folder and
// the temporary folder's per-user one).
std::vector<std::string> lockFolders();
// Entries of those folders named after mutexes of process `pid`.
std::vector<std::string> lockFilesOf(std::uint32_t pid);
// Processes whose command line carries a mutex of process `pid`.
std::vector<std::string> workersOf(std::uint32_t pid);
// The same for one mutex name (or any part of one).
std::vector<std::string> lockFilesWith(const std::string& needle);
std::vector<std::string> workersWith(const std::string& needle);
// Files in `folder` and below (a run's own TMPDIR, say).
std::vector<std::string> entriesOf(const std::string& folder);

// The whole next argument as a decimal number from `lo` to `hi`; moves `i`
// past it.
bool numberArgument(int argc, char** argv, int& i, long lo, long hi, long& out);

}  // namespace ombra::reliability
