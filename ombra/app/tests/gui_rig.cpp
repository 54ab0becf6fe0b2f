#include "gui_rig.h"

#include <QApplication>
#include <QCoreApplication>
#include <QElapsedTimer>
#include <QTest>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <random>
#include <stdexcept>

#include "message_service.h"
#include "ombra/frontend/profile.h"
#include "ombra/testsupport/child_process.h"

namespace fs = std::filesystem;

namespace ombra::guitest {

void ensureApplication() {
    if (QCoreApplication::instance() != nullptr) return;
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
    static int argc = 1;
    static char name[] = "ombra_gui_test";
    static char* argv[] = {name, nullptr};
    new QApplication(argc, argv);  // lives as long as the test program
}

std::string runDir() {
    const char* dir = std::getenv("OMBRA_RUN_DIR");
    return dir != nullptr ? dir : OMBRA_GUI_RUN_DIR;
}

bool waitFor(const std::function<bool()>& done, int ms) {
    QElapsedTimer timer;
    timer.start();
    while (!done()) {
        if (timer.elapsed() > ms) return false;
        QTest::qWait(10);
    }
    return true;
}

namespace {

void run(const std::string& program, const std::vector<std::string>& arguments, bool mustSucceed) {
    const DWORD code = testsupport::runChild(program, arguments, 30000);
    if (code == STILL_ACTIVE) throw std::runtime_error("did not end: " + program);
    if (mustSucceed && code != 0) throw std::runtime_error("failed (" + std::to_string(code) + "): " + program);
}

}  // namespace

Rig::Rig(std::vector<std::string> simArguments, bool startBoard) {
    ensureApplication();
    std::random_device rd;
    for (;;) {
        const fs::path p = fs::temp_directory_path() / ("ombra-gui-" + std::to_string(rd()));
        if (fs::create_directory(p)) {
            folder_ = p.string();
            break;
        }
    }
    fs::create_directories(folder_ + "/registry");
    qputenv("OMBRA_REGISTRY_DIR", QByteArray::fromStdString(folder_ + "/registry"));
    for (const char* component : {"SelkanBoot.so", "Burnix.so"})
        run(runDir() + "/regsvr", {"/s", runDir() + "/" + component}, true);
    // REGISTER ends with the failure code by design; the key is what counts.
    for (const char* worker : {"Wexom", "Tordel", "Quasp", "Lunet"})
        run(runDir() + "/" + worker, {"REGISTER"}, false);
    if (!startBoard) return;

    std::vector<std::string> args{"--quiet", "--exit-with-parent", "--flash-file", file("flash.bin")};
    args.insert(args.end(), simArguments.begin(), simArguments.end());
    testsupport::ChildOptions options;
    options.output = file("sim-output.txt");
    // Not the test's own standard error: a test that dies leaves the
    // simulator running, and it must not hold the runner's pipe open.
    options.errors = file("sim-errors.txt");
    sim_ = testsupport::startChild(runDir() + "/selkan-sim", args, options);
    if (sim_ == nullptr) throw std::runtime_error("selkan-sim did not start");
    // The port's line comes once the board runs and its port is listed.
    QElapsedTimer timer;
    timer.start();
    for (;;) {
        const auto out = readFile(options.output);
        const auto eol = std::find(out.begin(), out.end(), '\n');
        if (eol != out.end()) {
            port_.assign(out.begin(), eol);
            break;
        }
        if (timer.elapsed() > 20000 || WaitForSingleObject(sim_, 0) == WAIT_OBJECT_0) {
            const auto errors = readFile(options.errors);
            throw std::runtime_error("selkan-sim gave no port: " + std::string(errors.begin(), errors.end()));
        }
        QTest::qWait(20);
    }
}

Rig::~Rig() {
    testsupport::stopChild(sim_);
    std::error_code ec;
    fs::remove_all(folder_, ec);
}

std::vector<unsigned char> Rig::stopBoardAndReadFlash(std::size_t size) {
    testsupport::stopChild(sim_);
    auto bytes = readFile(file("flash.bin"));
    if (bytes.size() > size) bytes.resize(size);
    return bytes;
}

std::string Rig::addCBusFile() {
    const std::string path = file("c_bus.txt");
    std::ofstream(path, std::ios::binary) << "ffa2\r\n3ffe\r\nffa8\r\na0bc\r\nffa4\r\n0007\r\n0a08\r\n0004\r\nffff\r\n";
    frontend::AppProfile profile("Tarvik", "Ombra");
    profile.writeString("Settings", "MRU_C_BUS_FILE0", path);
    profile.writeString("Settings", "MRU_C_BUS_FILE", path);
    return path;
}

void Rig::registerProgrammerWithDrivers(const std::vector<std::string>& drivers) {
    const fs::path install = fs::path(folder_) / "install";
    fs::create_directories(install);
    fs::copy_file(fs::path(runDir()) / "Burnix.so", install / "Burnix.so", fs::copy_options::overwrite_existing);
    fs::copy(fs::path(runDir()) / "Drivers", install / "Drivers",
             fs::copy_options::recursive | fs::copy_options::overwrite_existing);
    std::ofstream cfg(install / "Drivers" / "Common" / "Burnix.cfg", std::ios::trunc);
    cfg << "[SUPPORTED_PROGRAMMERS]\nNum_Supported_Programmers=" << drivers.size() << "\n";
    for (std::size_t i = 0; i < drivers.size(); ++i) cfg << "\n[PROGRAMMER_" << i << "]\nManufacturer=" << drivers[i] << "\n";
    cfg.close();
    run(runDir() + "/regsvr", {"/s", (install / "Burnix.so").string()}, true);
}

std::vector<unsigned char> randomBytes(std::size_t size, unsigned seed) {
    std::mt19937 g(seed);
    std::vector<unsigned char> v(size);
    for (auto& b : v) b = static_cast<unsigned char>(g());
    return v;
}

void writeFile(const std::string& path, const std::vector<unsigned char>& bytes) {
    std::ofstream(path, std::ios::binary).write(reinterpret_cast<const char*>(bytes.data()),
                                                static_cast<std::streamsize>(bytes.size()));
}

std::vector<unsigned char> readFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), {}};
}

MessageBoxRecorder::MessageBoxRecorder(int answer) : answer_(answer) {
    frontend::setMessageBoxHandler([this](const std::string& text, const std::string&, DWORD) {
        texts_.push_back(text);
        return answer_;
    });
}

MessageBoxRecorder::~MessageBoxRecorder() { frontend::setMessageBoxHandler({}); }

}  // namespace ombra::guitest

// Under LeakSanitizer: what the desktop libraries below Qt keep until exit
// is theirs, not a leak of ours.
extern "C" const char* __lsan_default_suppressions() {
    return "leak:libfontconfig.so\nleak:libdbus-1.so\n";
}
