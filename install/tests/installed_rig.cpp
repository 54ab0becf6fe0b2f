#include "installed_rig.h"

#include <gtest/gtest.h>

#include <chrono>
#include <fstream>
#include <random>
#include <thread>

namespace ombra::installtest {
namespace {

void sleepMs(int ms) { std::this_thread::sleep_for(std::chrono::milliseconds(ms)); }

std::string trimmed(std::string text)
{
    while (!text.empty() && (text.back() == '\n' || text.back() == ' ')) text.pop_back();
    return text;
}

}  // namespace

InstalledBoard::InstalledBoard(const Scratch& scratch, const fs::path& installation) : work_(scratch.root() / "board")
{
    fs::create_directories(work_);
    const std::string sim = (installation / "selkan-sim").string();
    const std::string command = "'" + sim + "' --flash SST39LF/VF160 --flash-time-scale 0 --flash-file '" +
                                (work_ / "flash.bin").string() + "' --quiet >'" + (work_ / "port").string() +
                                "' 2>'" + (work_ / "sim.err").string() + "' & echo $! >'" +
                                (work_ / "pid").string() + "'";
    EXPECT_EQ(runShell(command), 0);
    for (int i = 0; i < 200 && port_.empty(); ++i) {
        port_ = trimmed(readText(work_ / "port"));
        if (port_.empty()) sleepMs(50);
    }
    pid_ = trimmed(readText(work_ / "pid"));
    EXPECT_FALSE(port_.empty()) << "selkan-sim did not start: " << readText(work_ / "sim.err");
}

InstalledBoard::~InstalledBoard() { stop(); }

void InstalledBoard::stop()
{
    if (pid_.empty()) return;
    runShell("kill -TERM " + pid_);
    // The flash file is written as the simulator stops.
    for (int i = 0; i < 200 && runShell("kill -0 " + pid_ + " 2>/dev/null") == 0; ++i) sleepMs(50);
    pid_.clear();
}

std::vector<std::uint8_t> InstalledBoard::stopAndReadFlash(std::size_t size)
{
    stop();
    std::vector<std::uint8_t> flash = readBytes(work_ / "flash.bin");
    if (flash.size() > size) flash.resize(size);
    return flash;
}

fs::path writeImage(const Scratch& scratch, std::size_t size, unsigned seed)
{
    std::mt19937 random(seed);
    std::string bytes(size, '\0');
    for (char& b : bytes) b = static_cast<char>(random());
    const fs::path path = scratch.root() / "image.bin";
    writeText(path, bytes);
    return path;
}

std::vector<std::string> leftovers(const Scratch& scratch, const fs::path& installation)
{
    std::vector<std::string> out;
    if (fs::exists(installation))
        for (const std::string& f : listTree(installation)) out.push_back("file " + (installation / f).string());
    if (fs::exists(installation)) out.push_back("folder " + installation.string());
    for (const fs::path& p : {scratch.desktop() / "Ombra v0.37.desktop", scratch.applications() / "Tarvik Ombra v0.37"})
        if (fs::exists(p)) out.push_back("shortcut " + p.string());
    for (const std::string& f : listTree(scratch.temp()))
        if (f.find("OmbraTMP") != std::string::npos) out.push_back("temporary " + f);
    struct Mark {
        const char* hive;
        const char* text;
    };
    const Mark marks[] = {
        {"HKEY_LOCAL_MACHINE", "Tarvik"},
        {"HKEY_LOCAL_MACHINE", "Ombra 0.34"},
        {"HKEY_LOCAL_MACHINE", installation.c_str()},
        {"HKEY_CURRENT_USER", "Tarvik"},
        {"HKEY_CURRENT_USER", installation.c_str()},
        {"HKEY_CLASSES_ROOT", "Tarvik."},
        {"HKEY_CLASSES_ROOT", "{3F77B831-CFAD-449C-89D4-715B3C434117}"},
        {"HKEY_CLASSES_ROOT", "{04EED67D-51BF-4F59-B3B4-AEB573ED679E}"},
        {"HKEY_CLASSES_ROOT", "{D9A7D76B-49B7-4EAD-AB9E-34D9862264C4}"},
        {"HKEY_CLASSES_ROOT", "{79B937E4-1F15-415E-9117-5F4332F1A327}"},
        {"HKEY_CLASSES_ROOT", "{C23AA42F-1789-4D22-9BD1-2B5F4D8985AE}"},
    };
    for (const Mark& m : marks)
        if (scratch.hive(m.hive).find(m.text) != std::string::npos)
            out.push_back(std::string("registry ") + m.hive + ": " + m.text);
    return out;
}

void burnWithInstalledOmbra(const Scratch& scratch, const fs::path& installation)
{
    ASSERT_TRUE(fs::exists(installation / "Ombra")) << "the installation has no front end";
    const fs::path image = writeImage(scratch, 65536, 7);
    const fs::path report = scratch.root() / "report.txt";
    InstalledBoard board(scratch, installation);
    ASSERT_FALSE(board.port().empty());
    std::string output;
    // From the home folder, not the installation: the C-bus file must be
    // found through what the installer recorded.
    const int status =
        runShell("cd '" + scratch.home().string() + "' && QT_QPA_PLATFORM=offscreen '" +
                     (installation / "Ombra").string() + "' -s " + board.port() + " -b 460800 -f '" + image.string() +
                     "' -l '" + report.string() + "' -av",
                 &output);
    EXPECT_EQ(status, 0) << output;
    const std::string text = readText(report);
    const std::vector<std::string> expected = {
        " * Binary image file name : " + image.string() + " \r\n",
        " * Com port : " + board.port() + " \r\n",
        " * Baud rate : 460800 \r\n",
        " * Action : burn and verify \r\n",
        " * Detected flash type : SST SST39LF/VF160 \n",
    };
    EXPECT_EQ(text.rfind(" * Burning started on : ", 0), 0u) << text;
    for (const std::string& line : expected) EXPECT_NE(text.find(line), std::string::npos) << line << "\n" << text;
    EXPECT_EQ(text.find("Could not open cbus file"), std::string::npos) << "the installed c_bus.txt is used\n" << text;
    const std::string ending = " * Result: \n\tOK";
    ASSERT_GE(text.size(), ending.size());
    EXPECT_EQ(text.substr(text.size() - ending.size()), ending) << text;
    EXPECT_EQ(board.stopAndReadFlash(65536), readBytes(image));
}

void burnWithInstalledCli(const Scratch& scratch, const fs::path& installation)
{
    const fs::path image = writeImage(scratch, 32768, 11);
    InstalledBoard board(scratch, installation);
    ASSERT_FALSE(board.port().empty());
    std::string output;
    const int status = runShell("'" + (installation / "ombra-cli").string() + "' burn --port " + board.port() +
                                    " --image '" + image.string() + "' --verify --programmer SST --baud 460800",
                                &output);
    EXPECT_EQ(status, 0) << output;
    EXPECT_EQ(board.stopAndReadFlash(32768), readBytes(image));
}

int runUninstall(const fs::path& installation, std::string& output)
{
    return runShell("QT_QPA_PLATFORM=offscreen sh '" + (installation / "uninstall.sh").string() + "'", &output);
}

std::vector<std::string> outputLines(const std::string& output)
{
    std::vector<std::string> out;
    std::size_t start = 0;
    for (std::size_t end; (end = output.find('\n', start)) != std::string::npos; start = end + 1)
        out.push_back(output.substr(start, end - start));
    return out;
}

}  // namespace ombra::installtest
