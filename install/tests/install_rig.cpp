#include "install_rig.h"

#include <zlib.h>

#include <gtest/gtest.h>

#include <cstdlib>
#include <fstream>
#include <random>
#include <sstream>

#include "install_table.h"

namespace ombra::installtest {
namespace {

std::string environment(const char* name)
{
    const char* value = std::getenv(name);
    return value ? value : "";
}

// The temporary folder before any scratch folder took TMPDIR over.
const fs::path& baseTemp()
{
    static const fs::path base = fs::temp_directory_path();
    return base;
}

}  // namespace

Scratch::Scratch()
{
    std::random_device seed;
    root_ = baseTemp() / ("ombra-install-" + std::to_string(seed()) + "-" + std::to_string(seed()));
    fs::create_directories(desktop());
    fs::create_directories(registry());
    fs::create_directories(temp());
    ::setenv("HOME", home().c_str(), 1);
    ::setenv("OMBRA_REGISTRY_DIR", registry().c_str(), 1);
    ::setenv("TMPDIR", temp().c_str(), 1);
    ::setenv("OMBRA_MESSAGEBOX", "no", 1);
    ::unsetenv("XDG_CONFIG_HOME");
    ::unsetenv("XDG_DATA_HOME");
    ::setenv("OMBRA_TEST_CALLS", (root_ / "calls.txt").c_str(), 1);
    ::unsetenv("OMBRA_TEST_REGSVR_STATUS");
}

Scratch::~Scratch()
{
    ::setenv("TMPDIR", baseTemp().c_str(), 1);
    std::error_code ec;
    fs::remove_all(root_, ec);
}

std::string Scratch::hive(const char* name) const
{
    fs::path file = registry() / (std::string(name) + ".reg");
    return fs::exists(file) ? readText(file) : std::string();
}

std::vector<std::uint8_t> gzipBytes(const std::vector<std::uint8_t>& data)
{
    z_stream z{};
    // 16 + window bits: a gzip header and trailer around the deflate data.
    EXPECT_EQ(deflateInit2(&z, 9, Z_DEFLATED, 15 + 16, 8, Z_DEFAULT_STRATEGY), Z_OK);
    std::vector<std::uint8_t> out(deflateBound(&z, static_cast<uLong>(data.size())) + 64);
    z.next_in = const_cast<Bytef*>(data.data());
    z.avail_in = static_cast<uInt>(data.size());
    z.next_out = out.data();
    z.avail_out = static_cast<uInt>(out.size());
    EXPECT_EQ(deflate(&z, Z_FINISH), Z_STREAM_END);
    out.resize(z.total_out);
    deflateEnd(&z);
    return out;
}

std::vector<std::uint8_t> bytesOf(const std::string& text) { return {text.begin(), text.end()}; }

std::vector<std::uint8_t> readBytes(const fs::path& path)
{
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

std::string readText(const fs::path& path)
{
    std::ifstream in(path, std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

void writeText(const fs::path& path, const std::string& text)
{
    fs::create_directories(path.parent_path());
    std::ofstream(path, std::ios::binary) << text;
}

install::MemoryPayload standInPayload()
{
    install::MemoryPayload payload;
    for (const install::InstallFileEntry& row : install::installFileTable()) {
        std::string name = row.fileName;
        std::string text;
        if (name == install::kRegsvrName) {
            text = "#!/bin/sh\necho \"regsvr $*\" >> \"$OMBRA_TEST_CALLS\"\nexit ${OMBRA_TEST_REGSVR_STATUS:-0}\n";
        } else if (row.program) {
            // REGISTER always ends with the failure code.
            text = "#!/bin/sh\necho \"" + name + " $*\" >> \"$OMBRA_TEST_CALLS\"\nexit 255\n";
        } else {
            text = "contents of " + name + "\n";
        }
        payload.add(row.resourceId, gzipBytes(bytesOf(text)));
    }
    return payload;
}

std::string runDir() { return environment("OMBRA_RUN_DIR"); }
std::string sourceDir() { return environment("OMBRA_SOURCE_DIR"); }

install::MemoryPayload buildPayload()
{
    install::MemoryPayload payload;
    const fs::path run = runDir();
    const fs::path own = fs::path(sourceDir()) / "install/payload";
    for (const install::InstallFileEntry& row : install::installFileTable()) {
        fs::path file = run / row.fileName;
        if (row.resourceId == 132 || row.resourceId == 137) file = own / row.fileName;
        if (!fs::exists(file)) continue;
        payload.add(row.resourceId, gzipBytes(readBytes(file)));
    }
    return payload;
}

void RecordingObserver::logLine(const std::string& text)
{
    std::lock_guard<std::mutex> guard(lock_);
    log_ += "\n" + text;
}

void RecordingObserver::logAppend(const std::string& text)
{
    std::lock_guard<std::mutex> guard(lock_);
    log_ += text;
}

void RecordingObserver::setProgress(int percent)
{
    std::lock_guard<std::mutex> guard(lock_);
    progress_.push_back(percent);
}

void RecordingObserver::finished(bool complete)
{
    std::lock_guard<std::mutex> guard(lock_);
    ++finished_;
    complete_ = complete;
}

std::string RecordingObserver::log() const
{
    std::lock_guard<std::mutex> guard(lock_);
    return log_;
}

std::vector<std::string> RecordingObserver::lines() const
{
    std::vector<std::string> out;
    std::string text = log();
    std::size_t start = 0;
    if (!text.empty() && text[0] == '\n') start = 1;
    while (start <= text.size()) {
        std::size_t end = text.find('\n', start);
        if (end == std::string::npos) end = text.size();
        out.push_back(text.substr(start, end - start));
        start = end + 1;
    }
    return out;
}

std::vector<int> RecordingObserver::progress() const
{
    std::lock_guard<std::mutex> guard(lock_);
    return progress_;
}

int RecordingObserver::finishedCalls() const
{
    std::lock_guard<std::mutex> guard(lock_);
    return finished_;
}

bool RecordingObserver::complete() const
{
    std::lock_guard<std::mutex> guard(lock_);
    return complete_;
}

install::InstallEnvironment testEnvironment(const Scratch& scratch, const install::Payload& payload, int* pauses)
{
    install::InstallEnvironment env = install::defaultEnvironment(payload);
    env.tempFolder = scratch.temp().string();
    env.desktopFolder = scratch.desktop().string();
    env.applicationsFolder = scratch.applications().string();
    env.pause = [pauses](DWORD ms) {
        EXPECT_EQ(ms, 10u);
        if (pauses) ++*pauses;
    };
    return env;
}

install::InstallChoices allChoices(const Scratch& scratch)
{
    install::InstallChoices choices;
    choices.destination = scratch.destination().string();
    for (int i = 0; i < install::kComponentCount; ++i) choices.components.push_back(i);
    return choices;
}

int runShell(const std::string& command, std::string* output)
{
    std::random_device seed;
    const fs::path base = baseTemp() / ("ombra-shell-" + std::to_string(seed()));
    const std::string out = base.string() + ".out", status = base.string() + ".status";
    std::string line = "(" + command + ") >'" + out + "' 2>&1; echo $? >'" + status + "'";
    if (std::system(line.c_str()) == -1) return -1;
    if (output) *output = readText(out);
    int code = -1;
    std::istringstream(readText(status)) >> code;
    std::error_code ec;
    fs::remove(out, ec);
    fs::remove(status, ec);
    return code;
}

std::vector<std::string> listTree(const fs::path& folder)
{
    std::vector<std::string> out;
    std::error_code ec;
    if (!fs::exists(folder, ec)) return out;
    for (auto it = fs::recursive_directory_iterator(folder, ec); it != fs::recursive_directory_iterator();
         it.increment(ec))
        out.push_back(fs::relative(it->path(), folder, ec).string());
    std::sort(out.begin(), out.end());
    return out;
}

}  // namespace ombra::installtest
