#include "boot_client.h"
#include "ombra/testsupport/board_line.h"

#include <cstdlib>
#include <fstream>
#include <sstream>
#include <stdexcept>

#include <gtest/gtest.h>

#include "ombra/platform/com.h"
#include "ombra/platform/event.h"
#include "ombra/platform/registry.h"
#include "ombra/platform/thread.h"

namespace ombra::selkanboot::test {

namespace {

std::string g_dir;

std::string runDir()
{
    const char* dir = std::getenv("OMBRA_RUN_DIR");
    return dir ? dir : ".";
}

void setDword(HKEY key, const char* name, DWORD value)
{
    RegSetValueExA(key, name, 0, REG_DWORD, reinterpret_cast<const BYTE*>(&value), sizeof value);
}

}  // namespace

std::string componentPath() { return runDir() + "/SelkanBoot.so"; }
std::string traceFile() { return g_dir + "/selkanboot-trace.txt"; }

void setUpRuntime()
{
    if (!g_dir.empty())
        return;
    char pattern[] = "/tmp/selkanboot-test-XXXXXX";
    if (!mkdtemp(pattern))
        throw std::runtime_error("no temporary folder");
    g_dir = pattern;
    setenv("OMBRA_REGISTRY_DIR", g_dir.c_str(), 1);
    std::string command = "\"" + runDir() + "/regsvr\" /s \"" + componentPath() + "\"";
    if (std::system(command.c_str()) != 0)
        throw std::runtime_error("regsvr failed: " + command);

    HKEY key = nullptr;
    if (RegCreateKeyExA(HKEY_LOCAL_MACHINE, "Software\\Tarvik\\Ombra\\Debug\\SelkanBoot", 0, nullptr,
                        REG_OPTION_NON_VOLATILE, KEY_ALL_ACCESS, nullptr, &key, nullptr) == ERROR_SUCCESS) {
        setDword(key, "fTraceEnabled", 1);
        setDword(key, "dwTraceType", 1);
        std::string file = traceFile();
        RegSetValueExA(key, "sTraceFile", 0, REG_SZ, reinterpret_cast<const BYTE*>(file.c_str()),
                       DWORD(file.size() + 1));
        RegCloseKey(key);
    }
    CoInitialize(nullptr);
}

std::string readTrace()
{
    std::ifstream in(traceFile());
    std::stringstream s;
    s << in.rdbuf();
    return s.str();
}

std::vector<std::uint8_t> defaultCBusTable()
{
    return testsupport::defaultCBusTable();
}

std::vector<std::uint8_t> testImage(std::size_t size)
{
    std::vector<std::uint8_t> image(size);
    for (std::size_t i = 0; i < size; ++i)
        image[i] = std::uint8_t(i * 7 + (i >> 8));
    return image;
}

BootClient::BootClient()
{
    setUpRuntime();
    CLSID clsid {};
    if (FAILED(platform::clsidFromProgId("Tarvik.SelkanBootKL", &clsid)))
        throw std::runtime_error("ProgID not registered");
    HRESULT hr = CoCreateInstance(clsid, nullptr, CLSCTX_INPROC_SERVER, IID_ISelkanBoot,
                                  reinterpret_cast<void**>(&boot));
    if (FAILED(hr) || !boot)
        throw std::runtime_error("CoCreateInstance failed");
    cancel = CreateEvent(TRUE, FALSE);
}

BootClient::~BootClient()
{
    if (boot)
        boot->Release();
    if (cancel)
        CloseHandle(cancel);
}

void BootClient::prepare(const std::string& port, DWORD baud, const std::vector<std::uint8_t>& image)
{
    DCB dcb = testsupport::boardLineDcb(baud);
    COMMTIMEOUTS timeouts {};
    std::vector<std::uint8_t> table = defaultCBusTable();
    boot->SetCommDeviceName(port.c_str());
    boot->SetDCB(&dcb);
    boot->SetCommTimeouts(&timeouts);
    boot->SetDebugLevel(3);
    boot->SetCBusTable(table.data(), WORD(table.size()));
    boot->SetUploadAddress(0x0030, 0x0000);
    boot->SetCallbackFn(&BootClient::callback, this);
    boot->SetTerminationFlag(cancel);
    boot->SetUploadImage(image.data(), WORD(image.size()));
    boot->SetExecuteAddress(0x0030, 0x0000);
}

LONG BootClient::callback(BootMessage* message, void* user)
{
    auto* self = static_cast<BootClient*>(user);
    std::lock_guard lock(self->mutex_);
    std::string text = message->text ? message->text : "";
    self->messages_.push_back({message->code, text});
    if (!self->cancelOn_.empty() && text == self->cancelOn_)
        SetEvent(self->cancel);
    return 0;
}

DWORD BootClient::run(bool execute, DWORD timeoutMs)
{
    HANDLE thread = nullptr;
    HRESULT hr = execute ? boot->Execute(&thread) : boot->Upload(&thread);
    EXPECT_EQ(hr, S_OK);
    if (!thread)
        return 0xDEAD;
    EXPECT_EQ(WaitForSingleObject(thread, timeoutMs), WAIT_OBJECT_0);
    DWORD code = 0xDEAD;
    GetExitCodeThread(thread, &code);
    CloseHandle(thread);
    return code;
}

DWORD BootClient::upload(DWORD timeoutMs) { return run(false, timeoutMs); }
DWORD BootClient::execute(DWORD timeoutMs) { return run(true, timeoutMs); }

std::vector<Message> BootClient::messages()
{
    std::lock_guard lock(mutex_);
    return messages_;
}

std::vector<std::string> BootClient::errors()
{
    std::vector<std::string> out;
    for (const Message& m : messages())
        if (m.code == BOOT_MSG_ERROR)
            out.push_back(m.text);
    return out;
}

bool BootClient::sawText(const std::string& text)
{
    for (const Message& m : messages())
        if (m.text == text)
            return true;
    return false;
}

bool BootClient::done()
{
    for (const Message& m : messages())
        if (m.code == BOOT_MSG_DONE)
            return true;
    return false;
}

void BootClient::cancelOn(const std::string& text)
{
    std::lock_guard lock(mutex_);
    cancelOn_ = text;
}

}  // namespace ombra::selkanboot::test
