// The four operations of a programmer (identify, burn, verify, dump) over
// the remote link. One piece of code serves the configurable programmer and
// the chip-family programmers; where they differ, a Variant says how.
#pragma once

#include <cstdint>
#include <span>
#include <string>

#include "ombra/burnix/drivers.h"
#include "ombra/burnix/host.h"
#include "ombra/burnix/link.h"

namespace ombra::burnix {

struct Variant {
    // Trace name opened by Burn.
    std::string burnTraceName = "Burnix";
    Reporter::Style textStyle = Reporter::Style::colon;
    // Entry traces of IdentifyFlash ("CBurnix::IdentifyFlash()", ...).
    bool identifyTraces = true;
    // Write "Device not found ..." before closing the port, without the pause.
    bool notFoundBeforeClose = false;
    // Erase block by block over the selected device's geometry instead of
    // one ERASE for the whole chip.
    bool blockErase = false;
    // The remote burn program answers the data stream with DONE.
    bool waitForProgramFinish = true;
    DWORD pauseBeforeVerifyMs = 0;
    std::string mismatchText = "Verification failed.";
};

// Everything an operation is given by the setters.
struct Job {
    DWORD baudRate = 0;
    std::string sourceFile;
    std::string dumpTarget;
    DWORD burnAddress = 0, burnSize = 0;
    bool verifyAfterBurn = false;
    DWORD dumpAddress = 0, dumpSize = 0;
    DWORD verifyAddress = 0, verifySize = 0;
    DWORD selectedDevice = 0;
};

struct IdentifyOutcome {
    HRESULT result = S_OK;
    bool answered = false;  // codes arrived
    std::uint16_t maker = 0, model = 0;
    int index = -1;         // into the device table, -1 when not found
};

class Operations {
public:
    // `name` is the programmer's name: the prefix of text records and the
    // trace name of Verify.
    Operations(Host& host, RecordSink& sink, Trace& trace, const Variant& variant, std::string name,
               std::span<const DeviceEntry> devices);

    IdentifyOutcome identifyFlash(const Job& job);
    HRESULT burn(const Job& job);
    HRESULT verify(const Job& job);
    HRESULT dump(const Job& job);

private:
    enum class Step { ok, cancelled };
    Step eraseAll(RemoteLink& link);
    Step eraseBlocks(RemoteLink& link, const Job& job);
    // Sends VERIFY `copies` times and answers the flash's sum after reading
    // as many VERIFY_RES replies; nullopt when cancelled.
    std::optional<std::optional<std::uint16_t>> flashSum(RemoteLink& link, std::uint32_t address,
                                                         std::uint32_t count, int copies);

    Host& host_;
    Trace& trace_;
    const Variant& variant_;
    std::string name_;
    std::span<const DeviceEntry> devices_;
    Reporter report_;
};

// 16-bit sum of the bytes, as the remote program computes it.
std::uint16_t chunkSum(std::span<const std::uint8_t> bytes);

}  // namespace ombra::burnix
