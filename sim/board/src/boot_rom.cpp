#include "boot_rom.h"

namespace ombra::sim {

namespace {
// The ROM's own stack for code it calls: just below the program area.
constexpr std::uint16_t kStackSeg = 0x0020, kStackTop = 0x0FF0;
constexpr std::uint32_t kAddressMask = 0xFFFFFF;
} // namespace

BootRom::BootRom(Soc& soc, std::uint16_t version, std::chrono::milliseconds pingInterval)
    : soc_(soc), version_(version), interval_(pingInterval) {}

void BootRom::enter(Clock::time_point now) {
    soc_.setLinkDivisor(static_cast<std::uint16_t>(soc_.uartBase() / 19200));
    decoder_.reset();
    out_.clear();
    pinging_ = true;
    launching_ = false;
    nextPing_ = now;
}

void BootRom::resume() {
    decoder_.reset();
    pinging_ = false;
    launching_ = false;
}

void BootRom::launch(std::uint16_t seg, std::uint16_t off, std::uint16_t returnOffset) {
    Cpu& cpu = soc_.cpu();
    cpu.reset(seg, off);
    Registers& r = cpu.regs();
    r.ss = kStackSeg;
    r.sp = kStackTop - 4;
    auto& ram = soc_.ram();
    const std::uint32_t sp = cpu.physical(r.ss, r.sp);
    ram[sp] = static_cast<std::uint8_t>(returnOffset);
    ram[sp + 1] = static_cast<std::uint8_t>(returnOffset >> 8);
    ram[sp + 2] = static_cast<std::uint8_t>(memmap::romSegment);
    ram[sp + 3] = static_cast<std::uint8_t>(memmap::romSegment >> 8);
    launching_ = false;
}

void BootRom::send(std::uint8_t type, std::span<const std::uint8_t> payload) {
    const auto bytes = frame::encode(type, payload);
    out_.insert(out_.end(), bytes.begin(), bytes.end());
}

BootRom::Result BootRom::step(Clock::time_point now, bool lineIdle) {
    LinkUart& uart = soc_.link();
    bool worked = false;
    while (!out_.empty() && uart.txRoom()) {
        uart.tx.push_back(out_.front());
        out_.pop_front();
        worked = true;
    }
    if (launching_) {
        // The acknowledgement leaves at the old rate before the code runs.
        if (out_.empty() && lineIdle) {
            launch(launchSeg_, launchOff_, memmap::romResumeOffset);
            return Result::run;
        }
        return worked ? Result::busy : Result::idle;
    }
    while (!uart.rx.empty() && !launching_) {
        const std::uint8_t b = uart.rx.front();
        uart.rx.pop_front();
        worked = true;
        switch (decoder_.feed(b)) {
        case frame::Decoder::Result::ok: handle(decoder_.frame()); break;
        case frame::Decoder::Result::badSum:
        case frame::Decoder::Result::oversized: ++dropped_; break;
        case frame::Decoder::Result::incomplete: break;
        }
    }
    if (pinging_ && now >= nextPing_ && out_.empty() && uart.tx.empty()) {
        send(kPing, {});
        nextPing_ = now + interval_;
        worked = true;
    }
    return worked ? Result::busy : Result::idle;
}

void BootRom::handle(const frame::Frame& f) {
    // Only a whole valid frame ends the ping phase; stray bytes never do.
    pinging_ = false;
    const auto& p = f.payload;
    auto word = [&](std::size_t i) { return static_cast<std::uint16_t>(p[i] << 8 | p[i + 1]); };
    switch (f.type) {
    case 0x0C: {
        const std::uint8_t v[2] = {static_cast<std::uint8_t>(version_ >> 8),
                                   static_cast<std::uint8_t>(version_)};
        send(kVersion, v);
        return;
    }
    case 0x03:
        for (std::size_t i = 0; i + 1 < p.size(); i += 4) {
            const std::uint16_t reg = word(i);
            if (reg == 0xFFFF || i + 3 >= p.size())
                break;
            soc_.cbusWrite(reg, word(i + 2));
        }
        send(kAck, {});
        return;
    case 0x05: {
        if (p.size() < 4)
            return;  // not a load; the host will retry
        const std::uint32_t base = soc_.cpu().physical(word(0), word(2));
        auto& ram = soc_.ram();
        for (std::size_t i = 4; i < p.size(); ++i) {
            const std::uint32_t a = (base + static_cast<std::uint32_t>(i - 4)) & kAddressMask;
            if (a < ram.size())
                ram[a] = p[i];
        }
        send(kAck, {});
        return;
    }
    case 0x09:
        if (p.size() < 4)
            return;
        launchSeg_ = word(0);
        launchOff_ = word(2);
        launching_ = true;
        send(kAck, {});
        return;
    default:
        return;  // 0x00 after the pings, and anything unknown
    }
}

} // namespace ombra::sim
