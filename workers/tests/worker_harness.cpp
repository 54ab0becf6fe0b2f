#include "worker_harness.h"

#include <gtest/gtest.h>

#include <atomic>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <random>
#include <sstream>

#include "ombra/common/pipe_io.h"
#include "ombra/platform/clock.h"
#include "ombra/platform/event.h"
#include "ombra/platform/handle.h"
#include "ombra/platform/pipe.h"
#include "ombra/platform/process.h"
#include "ombra/platform/registry.h"

namespace fs = std::filesystem;

namespace harness {

TempFolder::TempFolder() {
    std::random_device rd;
    for (;;) {
        const fs::path p = fs::temp_directory_path() / ("ombra-c-test-" + std::to_string(rd()));
        if (fs::create_directory(p)) {
            path_ = p.string();
            break;
        }
    }
    ::setenv("OMBRA_REGISTRY_DIR", path_.c_str(), 1);
}

TempFolder::~TempFolder() {
    std::error_code ec;
    fs::remove_all(path_, ec);
}

void enableTrace(const char* traceName, const std::string& file, DWORD outputs) {
    const std::string keyPath = std::string("Software\\Tarvik\\Ombra\\Debug\\") + traceName;
    HKEY key = nullptr;
    ASSERT_EQ(RegCreateKeyExA(HKEY_LOCAL_MACHINE, keyPath.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &key,
                              nullptr),
              ERROR_SUCCESS);
    const DWORD one = 1;
    RegSetValueExA(key, "fTraceEnabled", 0, REG_DWORD, reinterpret_cast<const BYTE*>(&one), 4);
    RegSetValueExA(key, "dwTraceType", 0, REG_DWORD, reinterpret_cast<const BYTE*>(&outputs), 4);
    RegSetValueExA(key, "sTraceFile", 0, REG_SZ, reinterpret_cast<const BYTE*>(file.c_str()),
                   static_cast<DWORD>(file.size() + 1));
    RegCloseKey(key);
}

std::string readFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::stringstream s;
    s << in.rdbuf();
    return s.str();
}

std::string runProgram(const char* name) {
    const char* dir = std::getenv("OMBRA_RUN_DIR");
    return std::string(dir != nullptr ? dir : ".") + "/" + name;
}

std::string locationOf(const char* workerName) {
    HKEY key = nullptr;
    if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, "Software\\Tarvik\\Ombra\\Locations", 0, KEY_READ, &key) != ERROR_SUCCESS)
        return {};
    char buffer[1024] = {};
    DWORD size = sizeof buffer - 1;
    DWORD type = 0;
    const LONG r = RegQueryValueExA(key, workerName, nullptr, &type, reinterpret_cast<BYTE*>(buffer), &size);
    RegCloseKey(key);
    return r == ERROR_SUCCESS ? std::string(buffer) : std::string();
}

Worker::~Worker() {
    if (process != nullptr) {
        if (waitExit(0) == STILL_ACTIVE) TerminateProcess(process, 0);
        WaitForSingleObject(process, INFINITE);
        CloseHandle(process);
    }
    for (HANDLE h : {toWorker, fromWorker, inputReadEnd, cancelEvent, cancelDuplicate})
        if (h != nullptr) CloseHandle(h);
}

bool Worker::write(const std::vector<std::uint8_t>& bytes) {
    ombra::HandleSink sink(toWorker);
    return sink.write(bytes);
}

bool Worker::writeBlock(ombra::pipe::ParameterBlock block) {
    block.cancelEvent = HandleToNumber(cancelDuplicate);
    return write(*ombra::pipe::encode(block, ombra::pipe::BlockForm::current));
}

std::vector<std::uint8_t> Worker::read(std::size_t count) {
    std::vector<std::uint8_t> out(count);
    DWORD got = 0;
    if (!ReadFile(fromWorker, out.data(), static_cast<DWORD>(count), &got)) got = 0;
    out.resize(got);
    return out;
}

void Worker::closeInput() {
    CloseHandle(toWorker);
    toWorker = nullptr;
}

DWORD Worker::waitExit(DWORD ms) {
    if (WaitForSingleObject(process, ms) != WAIT_OBJECT_0) return STILL_ACTIVE;
    DWORD code = STILL_ACTIVE;
    GetExitCodeProcess(process, &code);
    return code;
}

void start(Worker& w, const std::string& path, Mutex mutex, bool keepInputReadEnd,
           const std::vector<std::string>* argsOverride) {
    static std::atomic<int> serial{0};
    HANDLE inRead = nullptr, outWrite = nullptr;
    ASSERT_TRUE(CreatePipe(&inRead, &w.toWorker, TRUE));
    ASSERT_TRUE(CreatePipe(&w.fromWorker, &outWrite, TRUE));
    w.cancelEvent = CreateEvent(TRUE, FALSE);
    ASSERT_NE(w.cancelEvent, nullptr);
    ASSERT_TRUE(DuplicateHandle(w.cancelEvent, &w.cancelDuplicate, TRUE));
    const std::string name = "OmbraMUTR" + std::to_string(++serial) + "PR" + std::to_string(GetCurrentProcessId()) +
                             "TI" + std::to_string(GetTickCount());
    if (mutex == Mutex::created) {
        ASSERT_TRUE(w.mutex.create(name));
    }
    std::vector<std::string> args = {name, std::to_string(HandleToNumber(inRead)),
                                     std::to_string(HandleToNumber(outWrite))};
    if (argsOverride != nullptr) args = *argsOverride;
    const HANDLE inherit[] = {inRead, outWrite, w.cancelDuplicate};
    w.process = CreateProcess(path, args, inherit);
    ASSERT_NE(w.process, nullptr) << path;
    CloseHandle(outWrite);
    if (keepInputReadEnd)
        w.inputReadEnd = inRead;
    else
        CloseHandle(inRead);
}

ombra::pipe::ParameterBlock identifyBlock(const std::string& programmerName) {
    ombra::pipe::ParameterBlock b;
    b.operation = ombra::pipe::Operation::identify;
    // {04EED67D-51BF-4F59-B3B4-AEB573ED679E}
    b.programmerClsid = {0x04EED67D, 0x51BF, 0x4F59, {0xB3, 0xB4, 0xAE, 0xB5, 0x73, 0xED, 0x67, 0x9E}};
    b.commDeviceName = "/dev/null-port";
    b.dcb.BaudRate = 115200;
    b.cbusTable = {0x12, 0x34, 0xFF, 0xFF};
    b.baudRate = 115200;
    b.programmerName = programmerName;
    return b;
}

}  // namespace harness
