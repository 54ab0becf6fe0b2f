#include "ombra/burnix/operations.h"

#include <algorithm>
#include <optional>

#include "ombra/common/frame.h"
#include "ombra/burnix/xmodem.h"

namespace ombra::burnix {
namespace {

constexpr std::uint32_t kBurnChunk = 0x1000;
constexpr std::uint32_t kVerifyChunk = 0x4000;
constexpr std::uint32_t kProgressUnit = 0x1000;

}  // namespace

std::uint16_t chunkSum(std::span<const std::uint8_t> bytes) { return frame::sum(bytes); }

Operations::Operations(Host& host, RecordSink& sink, Trace& trace, const Variant& variant, std::string name,
                       std::span<const DeviceEntry> devices)
    : host_(host),
      trace_(trace),
      variant_(variant),
      name_(std::move(name)),
      devices_(devices),
      report_(sink, name_, variant.textStyle) {}

IdentifyOutcome Operations::identifyFlash(const Job& job) {
    IdentifyOutcome out;
    if (variant_.identifyTraces) {
        trace_.line("CBurnix::IdentifyFlash()");
        trace_.line("Opening port");
    }
    auto port = host_.openPort(job.baudRate);
    if (!port) {
        out.result = E_FAIL;
        return out;
    }
    RemoteLink link(*port, host_, trace_, report_);
    if (variant_.identifyTraces) trace_.line("Waiting for ping");
    link.waitForPing();
    link.sendFlushed(commandFrame(msg::kIdentify));
    if (link.huntType(msg::kIdentifyRes, false) != RemoteLink::Result::ok) {
        out.result = E_FAIL;
        return out;
    }
    // Length, maker and model; the sum behind them is not looked at.
    std::uint8_t reply[6] = {};
    std::size_t got = 0;
    if (port->read(reply, got) == Io::ok && !port->cancelled()) {
        out.answered = true;
        out.maker = static_cast<std::uint16_t>((reply[2] << 8) | reply[3]);
        out.model = static_cast<std::uint16_t>((reply[4] << 8) | reply[5]);
        report_.text(formatText("Manufacturer code: %X, Model code: %X", out.maker, out.model));
        out.index = findDevice(devices_, out.maker, out.model);
        if (out.index < 0) {
            if (variant_.notFoundBeforeClose) {
                report_.text("Device not found in programmer database");
                port.reset();
            } else {
                port.reset();
                host_.sleepMs(100);
                report_.text("Device not found in programmer database");
            }
            return out;
        }
        const DeviceEntry& e = devices_[static_cast<std::size_t>(out.index)];
        report_.text(formatText("Device database entry found : \n\r Manufacturer: %s \n\r Model: %s \n\r Capacity %d MB",
                                e.manufacturerName.c_str(), e.modelName.c_str(), static_cast<int>(e.capacity)));
    }
    if (port->cancelled()) {
        out.result = E_FAIL;
        out.answered = false;
        return out;
    }
    port->flush();
    port->purge(kPurgeRxClear);
    return out;
}

Operations::Step Operations::eraseAll(RemoteLink& link) {
    trace_.line("sending erase command");
    report_.text("Erasing flash...");
    link.sendFlushed(commandFrame(msg::kErase));
    // No host-side limit: erasing takes as long as the chip needs.
    if (link.waitReply(msg::kDone) != RemoteLink::Result::ok) return Step::cancelled;
    report_.text("Finished erasing.");
    return Step::ok;
}

Operations::Step Operations::eraseBlocks(RemoteLink& link, const Job& job) {
    if (job.selectedDevice >= devices_.size()) return Step::ok;
    const auto& g = devices_[job.selectedDevice].geometry;
    std::uint64_t address = 0;
    for (std::size_t region = 0; region < 4; ++region) {
        const std::uint32_t blockSize = g[2 * region];
        const std::uint32_t blocks = g[2 * region + 1];
        if (blocks == 0) return Step::ok;
        for (std::uint32_t b = 0; b < blocks; ++b) {
            const auto start = static_cast<std::uint32_t>(address);
            report_.text(formatText("Erasing address range %X-%X", start, static_cast<unsigned>(start + blockSize)));
            link.sendFlushed(eraseBlockFrame(start));
            if (link.waitReply(msg::kDone) != RemoteLink::Result::ok) return Step::cancelled;
            address += blockSize;
            // Every block that begins at or below the burn size is erased.
            if (address > job.burnSize) return Step::ok;
        }
    }
    return Step::ok;
}

std::optional<std::optional<std::uint16_t>> Operations::flashSum(RemoteLink& link, std::uint32_t address,
                                                                 std::uint32_t count, int copies) {
    for (int i = 0; i < copies; ++i) link.sendVerify(address, count);
    std::optional<std::uint16_t> first;
    for (int reply = 0; reply < copies; ++reply) {
        RemoteLink::Message m;
        do {
            if (link.port().cancelled()) return std::nullopt;
            trace_.line("deleting data buffer");
            trace_.line("reading message");
            if (link.readMessage(m) != RemoteLink::Result::ok) return std::nullopt;
        } while (m.type != msg::kVerifyRes);
        // A reply too short to hold a sum cannot confirm anything.
        if (reply == 0 && m.payload.size() >= 2)
            first = static_cast<std::uint16_t>((m.payload[0] << 8) | m.payload[1]);
    }
    return first;
}

HRESULT Operations::burn(const Job& job) {
    trace_.open(variant_.burnTraceName);
    trace_.line("CBurnix::Burn");
    trace_.line(formatText("opening image file %s", job.sourceFile.c_str()));
    std::string error;
    auto image = host_.openImage(job.sourceFile, error);
    if (!image) {
        trace_.line("failed to open image file");
        report_.text(error);
        report_.status(kStatusFailure);
        return E_FAIL;
    }
    const std::span<const std::uint8_t> bytes = image->bytes();
    if (bytes.size() < job.burnSize) {
        // Streaming past the end of the file would read outside the mapping.
        report_.text("Image file is shorter than the burn size.");
        report_.status(kStatusFailure);
        return E_FAIL;
    }
    auto port = host_.openPort(job.baudRate);
    if (!port) return E_FAIL;
    const auto cancelExit = [&] {
        trace_.line("Cancelled");
        return E_FAIL;
    };
    RemoteLink link(*port, host_, trace_, report_);
    if (link.waitForPing() != RemoteLink::Result::ok) return cancelExit();
    port->setQueues(512, 8192);
    port->purge(kPurgeTxClear | kPurgeRxClear);

    const Step erased = variant_.blockErase ? eraseBlocks(link, job) : eraseAll(link);
    if (erased == Step::cancelled || port->cancelled()) return cancelExit();
    port->purge(kPurgeTxClear | kPurgeRxClear);

    trace_.line(formatText("Burn Address = %X", job.burnAddress));
    trace_.line(formatText("Burn Size = %X", job.burnSize));
    const auto program = programFrame(job.burnAddress, job.burnSize);
    trace_.line(formatText("Checksum = %X", (program[12] << 8) | program[13]));
    trace_.line("sending program command");
    link.sendFlushed(program);

    host_.sleepMs(50);
    std::uint32_t sent = 0;
    while (!port->cancelled() && sent < job.burnSize) {
        const std::uint32_t chunk = std::min(kBurnChunk, job.burnSize - sent);
        trace_.line(formatText("sending chunk %X:%X", sent, chunk));
        if (port->cancelled()) return cancelExit();
        port->write(bytes.subspan(sent, chunk));
        if (port->cancelled()) return cancelExit();
        sent += chunk;
        port->flush();
        if (port->cancelled()) return cancelExit();
        if (sent % kProgressUnit == 0) report_.progress(sent, job.burnSize);
    }
    if (port->cancelled()) return cancelExit();

    HRESULT result = S_OK;
    DWORD finalStatus = kStatusSuccess;
    bool programmed = true;
    if (variant_.waitForProgramFinish) {
        const auto finish = link.waitForProgramFinish();
        if (finish == RemoteLink::Result::cancelled) return cancelExit();
        if (finish == RemoteLink::Result::failed) {
            // The remote program lost part of the stream: the flash does not
            // hold the image, so this burn failed.
            programmed = false;
            result = E_FAIL;
            finalStatus = kStatusFailure;
        }
    }
    if (programmed) {
        trace_.line("finished programming");
        report_.text("Flash burning complete.");
    }

    if (programmed && job.verifyAfterBurn) {
        if (port->cancelled()) return cancelExit();
        if (variant_.pauseBeforeVerifyMs) host_.sleepMs(variant_.pauseBeforeVerifyMs);
        port->purge(kPurgeTxAbort | kPurgeRxAbort | kPurgeTxClear | kPurgeRxClear);
        trace_.line("beginning verification");
        std::uint32_t done = 0;
        std::uint32_t address = job.burnAddress;
        for (;;) {
            const std::uint32_t chunk = std::min(kBurnChunk, job.burnSize - done);
            if (port->cancelled()) return cancelExit();
            const std::uint16_t sum = chunkSum(bytes.subspan(done, chunk));
            trace_.line(formatText("Data chunk sum = %d", sum));
            trace_.line("sending verify command");
            report_.text(formatText("Verifying addresses %08X - %08X", address, address + chunk));
            const auto flash = flashSum(link, address, chunk, 1);
            if (!flash) return cancelExit();
            trace_.line("read verify_res message");
            if (*flash != sum) {
                report_.text(variant_.mismatchText, kClassFailure);
                report_.status(kStatusSuccess);
                result = E_FAIL;
                break;
            }
            done += chunk;
            address += chunk;
            if (port->cancelled()) return cancelExit();
            report_.progress(address - job.burnAddress, job.burnSize);
            if (done >= job.burnSize) {
                report_.text("Verification passed.");
                break;
            }
        }
    }

    if (port->cancelled()) return cancelExit();
    link.sendReset();
    port.reset();
    image.reset();
    report_.status(finalStatus);
    return result;
}

HRESULT Operations::verify(const Job& job) {
    trace_.open(name_);
    auto port = host_.openPort(job.baudRate);
    if (!port) return E_FAIL;
    port->purge(kPurgeTxClear | kPurgeRxClear);
    trace_.line("opening file");
    std::string error;
    auto image = host_.openImage(job.sourceFile, error);
    if (!image) {
        trace_.line("failed to open file");
        report_.text("Could not open image file.");
        report_.status(kStatusFailure);
        return E_FAIL;
    }
    RemoteLink link(*port, host_, trace_, report_);
    const std::span<const std::uint8_t> bytes = image->bytes();
    const std::uint64_t end = std::uint64_t{job.verifyAddress} + job.verifySize;
    std::uint64_t address = job.verifyAddress;
    std::size_t offset = 0;
    HRESULT result = S_OK;
    std::string message = "Verification passed.";
    DWORD status = kStatusSuccess;
    while (address < end) {
        trace_.line("reading data chunk");
        // Each chunk stays within both the file and what is left of the span.
        const auto n = static_cast<std::uint32_t>(
            std::min<std::uint64_t>({kVerifyChunk, bytes.size() - offset, end - address}));
        if (n == 0) {
            result = E_FAIL;
            message = "Image file ends before the verify span.";
            status = kStatusFailure;
            break;
        }
        const std::uint16_t sum = chunkSum(bytes.subspan(offset, n));
        trace_.line(formatText("Data chunk sum = %d", sum));
        trace_.line("sending verify command");
        const auto a = static_cast<std::uint32_t>(address);
        report_.text(formatText("Verifying addresses %08X - %08X", a, a + n));
        // Each VERIFY goes out twice; both replies are read so that the
        // second one does not answer the next chunk.
        const auto flash = flashSum(link, a, n, 2);
        if (!flash) {
            trace_.line("Cancelled");
            return E_FAIL;
        }
        trace_.line("read right message");
        if (*flash != sum) {
            result = E_FAIL;
            message = "Verification failed.";
            break;
        }
        address += n;
        offset += n;
        if (!port->cancelled())
            report_.progress(static_cast<DWORD>(address - job.verifyAddress), job.verifySize);
    }
    report_.text(message);
    report_.status(status);
    trace_.line("resetting");
    link.sendReset();
    return result;
}

HRESULT Operations::dump(const Job& job) {
    auto port = host_.openPort(job.baudRate);
    if (!port) return E_FAIL;
    RemoteLink link(*port, host_, trace_, report_);
    link.waitForPing();
    port->purge(kPurgeTxClear | kPurgeRxClear);
    trace_.line("received ping");
    if (port->cancelled()) return E_FAIL;

    trace_.line("creating file");
    std::string error;
    auto file = host_.createDumpFile(job.dumpTarget, error);
    if (!file) {
        report_.text("Could not create dump file.");
        report_.status(kStatusFailure);
        return E_FAIL;
    }
    if (job.dumpSize < 2) return E_FAIL;

    struct Priority {
        Host& host;
        explicit Priority(Host& h) : host(h) { host.raisePriority(true); }
        ~Priority() { host.raisePriority(false); }
    } priority(host_);
    port->setQueues(65535, 512);
    link.sendDump(job.dumpAddress, job.dumpSize);

    RemoteLink::Message m;
    do {
        // Cancelled before any data: the dump did not happen.
        if (port->cancelled()) return E_FAIL;
        trace_.line("deleting data buffer");
        trace_.line("reading message");
        if (link.readMessage(m) != RemoteLink::Result::ok) return E_FAIL;
    } while (m.type != msg::kDumpRes);
    trace_.line("received response");

    const std::uint32_t capacity = job.dumpSize & ~1u;
    trace_.line("creating file mapping");
    const std::span<std::uint8_t> view = file->map(capacity, error);
    if (view.size() != capacity) {
        trace_.line("failed to create file mapping, error code " + error);
        report_.text(error);
        return E_FAIL;
    }
    trace_.line("mapping file");
    trace_.line("beginning xmodem transmission");
    std::uint32_t stored = 0;
    const XmResult r = XModemReceive(*port, view, report_, trace_, stored);
    report_.text(xmodemResultText(r));
    report_.status(r == XmResult::ok ? kStatusSuccess : kStatusFailure);
    return S_OK;
}

}  // namespace ombra::burnix
