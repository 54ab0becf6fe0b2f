// The installer tests' world: a scratch folder that stands in for the
// user's home, registry and temporary folder; payloads built in memory
// (stand-in programs or the build's real deliverables); an observer that
// keeps the log as the page shows it.
#pragma once

#include <cstdint>
#include <filesystem>
#include <mutex>
#include <string>
#include <vector>

#include "installation.h"
#include "payload.h"

namespace ombra::installtest {

namespace fs = std::filesystem;

// A fresh folder with home/, home/Desktop/, registry/ and tmp/; HOME,
// OMBRA_REGISTRY_DIR and TMPDIR point into it while it lives, the XDG
// variables are cleared, and it is removed at the end.
class Scratch {
public:
    Scratch();
    ~Scratch();
    Scratch(const Scratch&) = delete;
    Scratch& operator=(const Scratch&) = delete;

    const fs::path& root() const { return root_; }
    fs::path home() const { return root_ / "home"; }
    fs::path desktop() const { return home() / "Desktop"; }
    fs::path applications() const { return home() / ".local/share/applications"; }
    fs::path registry() const { return root_ / "registry"; }
    fs::path temp() const { return root_ / "tmp"; }
    fs::path destination() const { return home() / "Ombra"; }
    // Text of a hive file ("" when it was never written).
    std::string hive(const char* name) const;

private:
    fs::path root_;
};

std::vector<std::uint8_t> gzipBytes(const std::vector<std::uint8_t>& data);
std::vector<std::uint8_t> bytesOf(const std::string& text);
std::vector<std::uint8_t> readBytes(const fs::path& path);
std::string readText(const fs::path& path);
void writeText(const fs::path& path, const std::string& text);

// Every row of the table as a small file; the programs are shell scripts
// that append "name arguments" to $OMBRA_TEST_CALLS, and regsvr ends with
// $OMBRA_TEST_REGSVR_STATUS (default 0).
install::MemoryPayload standInPayload();

// Every row from this build's run folder and the installer's own files.
// Rows whose file the build lacks are left out.
install::MemoryPayload buildPayload();
std::string runDir();
std::string sourceDir();

// The log as the page shows it, the progress values and the end.
class RecordingObserver final : public install::InstallObserver {
public:
    void logLine(const std::string& text) override;
    void logAppend(const std::string& text) override;
    void setProgress(int percent) override;
    void finished(bool complete) override;

    std::string log() const;
    std::vector<std::string> lines() const;  // split at the line breaks
    std::vector<int> progress() const;
    int finishedCalls() const;
    bool complete() const;

private:
    mutable std::mutex lock_;
    std::string log_;
    std::vector<int> progress_;
    int finished_ = 0;
    bool complete_ = false;
};

// An environment for `scratch` with `payload`, whose pauses are counted
// instead of slept.
install::InstallEnvironment testEnvironment(const Scratch& scratch, const install::Payload& payload,
                                            int* pauses = nullptr);

// All eight components, both shortcuts, into the scratch destination.
install::InstallChoices allChoices(const Scratch& scratch);

// Runs a program with a shell command line; gives its exit status and
// (when `output`) its standard output and error.
int runShell(const std::string& command, std::string* output = nullptr);

// Every regular file and folder below `folder`, relative, sorted.
std::vector<std::string> listTree(const fs::path& folder);

}  // namespace ombra::installtest
