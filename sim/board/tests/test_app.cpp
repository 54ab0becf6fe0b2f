// selkan-sim as a process: ports printed, links, registry entries, the flash
// file saved on SIGTERM, power-cycle on SIGUSR1.
#include <gtest/gtest.h>

#include <csignal>
#include <cstdio>
#include <fstream>
#include <iterator>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>

#include "host_port.h"

using namespace std::chrono_literals;
using ombra::sim::test::HostPort;

extern char** environ;

namespace {

std::string simPath() {
    if (const char* run = std::getenv("OMBRA_RUN_DIR"); run && *run)
        return std::string(run) + "/selkan-sim";
    return SELKAN_SIM;
}

std::string slurp(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), {}};
}

struct Sim {
    pid_t pid = -1;
    std::FILE* out = nullptr;
    explicit Sim(std::vector<std::string> args) {
        int fds[2];
        if (pipe(fds) != 0)
            return;
        posix_spawn_file_actions_t fa;
        posix_spawn_file_actions_init(&fa);
        posix_spawn_file_actions_adddup2(&fa, fds[1], 1);
        posix_spawn_file_actions_addclose(&fa, fds[0]);
        args.insert(args.begin(), simPath());
        std::vector<char*> argv;
        for (auto& a : args)
            argv.push_back(a.data());
        argv.push_back(nullptr);
        if (posix_spawn(&pid, argv[0], &fa, nullptr, argv.data(), environ) != 0)
            pid = -1;
        posix_spawn_file_actions_destroy(&fa);
        ::close(fds[1]);
        out = fdopen(fds[0], "r");
    }
    std::string line() {
        char buf[256];
        if (!out || !std::fgets(buf, sizeof buf, out))
            return {};
        std::string s(buf);
        if (!s.empty() && s.back() == '\n')
            s.pop_back();
        return s;
    }
    int stop(int sig = SIGTERM) {
        int status = -1;
        if (pid > 0) {
            kill(pid, sig);
            waitpid(pid, &status, 0);
            pid = -1;
        }
        return status;
    }
    ~Sim() {
        stop(SIGKILL);
        if (out)
            std::fclose(out);
    }
};

} // namespace

TEST(SelkanSim, HelpDocumentsEveryOption) {
    Sim sim({"--help"});
    std::string text, l;
    while (!(l = sim.line()).empty() || !std::feof(sim.out))
        text += l + "\n";
    for (const char* opt : {"--flash ", "--flash-codes", "--list-flash", "--identity", "--rom-version", "--flash-file",
                            "--flash-time-scale", "--boards", "--no-pacing", "--no-garble", "--fault", "--seed",
                            "--link", "--debug-log", "--trace", "--quiet", "--help"})
        EXPECT_NE(text.find(opt), std::string::npos) << opt;
}

TEST(SelkanSim, RunsBoardsRegistersAndSavesOnTerm) {
    char tmpl[] = "/tmp/selkan-sim-test-XXXXXX";
    ASSERT_NE(mkdtemp(tmpl), nullptr);
    const std::string dir = tmpl;
    const std::string reg = dir + "/registry";
    ASSERT_EQ(mkdir(reg.c_str(), 0755), 0);
    setenv("OMBRA_REGISTRY_DIR", reg.c_str(), 1);

    Sim sim({"--boards", "2", "--no-pacing", "--quiet", "--flash", "SST39LF/VF200A", "--link", dir + "/tty",
             "--flash-file", dir + "/flash.bin", "--rom-version", "12.34"});
    ASSERT_GT(sim.pid, 0);
    const std::string p0 = sim.line(), p1 = sim.line();
    ASSERT_FALSE(p0.empty());
    ASSERT_FALSE(p1.empty());
    EXPECT_NE(p0, p1);

    char target[256] = {};
    ASSERT_GT(readlink((dir + "/tty1").c_str(), target, sizeof target - 1), 0);
    EXPECT_EQ(std::string(target), p1);
    const std::string hive = slurp(reg + "/HKEY_LOCAL_MACHINE.reg");
    EXPECT_NE(hive.find("[HKEY_LOCAL_MACHINE\\HARDWARE\\DEVICEMAP\\SERIALCOMM]"), std::string::npos);
    EXPECT_NE(hive.find("=\"" + p0 + "\""), std::string::npos);
    EXPECT_NE(hive.find("=\"" + p1 + "\""), std::string::npos);

    HostPort port(dir + "/tty1", B19200);
    ASSERT_TRUE(port.readFrame(5000ms));
    port.write({0xAA, 0x00, 0x00, 0x00, 0x00, 0xAA});
    port.sendFrame(0x0C);
    // Pings still on their way come first; the limit is generous for a
    // loaded machine.
    std::optional<ombra::frame::Frame> v;
    const auto end = std::chrono::steady_clock::now() + 10s;
    while (!(v && v->type == 0x15) && std::chrono::steady_clock::now() < end)
        v = port.readFrame(1000ms);
    ASSERT_TRUE(v && v->type == 0x15);
    EXPECT_EQ(v->payload, (std::vector<std::uint8_t>{0x12, 0x34}));

    // SIGUSR1 sends the board back to its ping phase: the next frame after
    // the version (the ROM sends nothing between) is a ping.
    kill(sim.pid, SIGUSR1);
    auto f = port.readFrame(10000ms);
    ASSERT_TRUE(f);
    EXPECT_EQ(f->type, 0x01);

    const int status = sim.stop(SIGTERM);
    ASSERT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), 0);
    EXPECT_EQ(slurp(dir + "/flash.bin").size(), 262144u);
    EXPECT_EQ(slurp(dir + "/flash.bin.1").size(), 262144u);
    struct stat st{};
    EXPECT_NE(lstat((dir + "/tty0").c_str(), &st), 0);
    const std::string after = slurp(reg + "/HKEY_LOCAL_MACHINE.reg");
    EXPECT_EQ(after.find(p0), std::string::npos);
    EXPECT_NE(after.find("Windows Registry Editor Version 5.00"), std::string::npos);
    std::system(("rm -rf " + dir).c_str());
}

TEST(SelkanSim, RejectsBadOptions) {
    for (std::vector<std::string> args : {std::vector<std::string>{"--identity", "50"},
                                          {"--flash", "nonesuch"},
                                          {"--fault", "in:explode:p=1"},
                                          {"--boards", "0"},
                                          {"--fault", "in:drop:board=x"},
                                          {"--fault", "in:drop:board=0,"},
                                          {"--boards", "2", "--fault", "both:mute:board=2"},
                                          {"--bogus"}}) {
        Sim sim(args);
        ASSERT_GT(sim.pid, 0);
        int status = 0;
        waitpid(sim.pid, &status, 0);
        sim.pid = -1;
        ASSERT_TRUE(WIFEXITED(status));
        EXPECT_EQ(WEXITSTATUS(status), 2) << args[0];
    }
}
