// Drives SelkanBoot as a client does: registered with regsvr into a private
// registry folder, created from its ProgID, followed through its callback.
#pragma once

#include <chrono>
#include <cstdint>
#include <mutex>
#include <string>
#include <vector>

#include "ombra/platform/handle.h"
#include "ombra/selkanboot/iselkanboot.h"

namespace ombra::selkanboot::test {

// Registers the component and switches its trace on into traceFile().
// Once per process, before the first object.
void setUpRuntime();
std::string traceFile();
std::string componentPath();

struct Message {
    LONG code;
    std::string text;
};

class BootClient {
public:
    BootClient();
    ~BootClient();

    ISelkanBoot* boot = nullptr;
    HANDLE cancel = nullptr;

    // Settings for an upload of `image` through `port` at `baud`.
    void prepare(const std::string& port, DWORD baud, const std::vector<std::uint8_t>& image);
    // Runs Upload or Execute to its end; the thread's exit code.
    DWORD upload(DWORD timeoutMs = 120000);
    DWORD execute(DWORD timeoutMs = 30000);

    std::vector<Message> messages();
    std::vector<std::string> errors();
    bool sawText(const std::string& text);
    bool done();

    // Set the cancel event when a message with this text arrives.
    void cancelOn(const std::string& text);

private:
    static LONG callback(BootMessage* message, void* user);
    DWORD run(bool execute, DWORD timeoutMs);
    std::mutex mutex_;
    std::vector<Message> messages_;
    std::string cancelOn_;
};

std::vector<std::uint8_t> defaultCBusTable();
std::vector<std::uint8_t> testImage(std::size_t size);
std::string readTrace();

}  // namespace ombra::selkanboot::test
