#include "fake_rom.h"

#include <chrono>
#include <stdexcept>

#include "ombra/common/frame.h"

namespace ombra::selkanboot::test {

using Clock = std::chrono::steady_clock;

FakeRom::FakeRom(FakeRomScript script) : script_(script)
{
    platform::SerialError error;
    board_ = platform::SerialPort::openVirtualPair(path_, &error);
    if (!board_)
        throw std::runtime_error("no virtual serial pair: " + error.message);
    keepOpen_ = platform::SerialPort::open(path_, {}, &error, {.exclusive = false});
    if (!keepOpen_)
        throw std::runtime_error("cannot open " + path_ + ": " + error.message);
    // Reads give what came within 5 ms, so pings keep their rhythm.
    board_->setTimeouts({0, 0, 5, 0, 0});
    thread_ = std::thread([this] { run(); });
}

FakeRom::~FakeRom()
{
    stop_ = true;
    thread_.join();
}

FakeRom::Seen FakeRom::seen()
{
    std::lock_guard lock(mutex_);
    return seen_;
}

void FakeRom::send(std::uint8_t type, const std::vector<std::uint8_t>& payload)
{
    board_->write(frame::encode(type, payload));
}

void FakeRom::handle(std::uint8_t type, const std::vector<std::uint8_t>& p)
{
    std::lock_guard lock(mutex_);
    switch (type) {
    case 0x00: hostSeen_ = true; break;
    case 0x0C:
        ++seen_.versionQueries;
        if (seen_.versionQueries == 1)
            firstQuery_ = std::chrono::steady_clock::now();
        if (std::chrono::steady_clock::now() - firstQuery_ < std::chrono::milliseconds(script_.versionDeafMs)) {
            hostSeen_ = false;  // back to pinging, as after a reset
            break;
        }
        {
            if (script_.versionOfOtherTypeFirst && !otherTypeSent_) {
                otherTypeSent_ = true;
                send(0x10, {});
            } else {
                send(0x15, {script_.major, script_.minor});
            }
        }
        break;
    case 0x03:
        seen_.cbusTable = p;
        if (script_.answerCBusTable)
            send(0x10, {});
        break;
    case 0x05:
        if (p.size() >= 4) {
            std::uint32_t at = std::uint32_t(p[0] << 24 | p[1] << 16 | p[2] << 8 | p[3]);
            if (at == 0x00070000 && p.size() == 12) {
                seen_.divisor = std::uint16_t(p[8] | p[9] << 8);
                break;  // the stub is not acknowledged
            }
            ++seen_.loads;
            seen_.loadAddress = at;
            seen_.image.assign(p.begin() + 4, p.end());
            if (script_.answerLoad)
                send(0x10, {});
        }
        break;
    case 0x09:
        if (p.size() == 4) {
            std::uint32_t at = std::uint32_t(p[0] << 24 | p[1] << 16 | p[2] << 8 | p[3]);
            if (at != 0x00070000) {
                seen_.executed = at;
                ++seen_.executes;
                send(0x01, {'P', 'I', 'N', 'G'});  // the started program's greeting
            }
        }
        break;
    default: break;
    }
}

void FakeRom::run()
{
    frame::Decoder decoder;
    auto nextPing = Clock::now();
    std::uint8_t buf[4096];
    while (!stop_) {
        if (!script_.silent && !hostSeen_ && Clock::now() >= nextPing) {
            send(0x22, {0x01});
            nextPing = Clock::now() + std::chrono::milliseconds(script_.pingIntervalMs);
        }
        std::size_t n = board_->read(buf).count;
        for (std::size_t i = 0; i < n; ++i) {
            if (script_.silent) {
                if (buf[i] == 0) {
                    std::lock_guard lock(mutex_);
                    ++seen_.nulsWhileSilent;
                }
                continue;
            }
            frame::Decoder::Result r = decoder.feed(buf[i]);
            if (r == frame::Decoder::Result::ok)
                handle(decoder.frame().type, decoder.frame().payload);
        }
    }
}

}  // namespace ombra::selkanboot::test
