#include "soc.h"

namespace ombra::sim {

namespace {
constexpr std::size_t kDebugLogLimit = 1 << 20;
}

Soc::Soc(const FlashPart& part, std::uint8_t identity, std::uint32_t nsPerInstruction)
    : identity_(identity), nsPerInstruction_(nsPerInstruction), ram_(memmap::ramSize, 0),
      flash_(FlashChip::create(part)), cpu_(*this, Model::i80186, 8) {
    cpu_.mapRam(ram_.data(), memmap::ramSize);
    powerUp();
}

void Soc::powerUp() {
    std::fill(ram_.begin(), ram_.end(), std::uint8_t{0});
    flash_->powerUp();
    link_.rx.clear();
    link_.tx.clear();
    regs_.clear();
    cbus_.clear();
    regs_[ports::identity] = static_cast<std::uint16_t>(identity_ << 8);
    setLinkDivisor(static_cast<std::uint16_t>(uartBase() / 19200));
    linkRxLatch_ = 0;
    pendingLow_ = false;
    haveReadWord_ = false;
    polls_ = {};
    keyAccesses_ = UINT64_MAX;
    cpu_.reset(memmap::romSegment, memmap::romEntryOffset);
}

std::uint64_t Soc::now() const { return baseNs_ + cpu_.instructions() * nsPerInstruction_; }

Soc::Activity Soc::takeActivity() {
    Activity a = activity_;
    a.waitingForLink = workAtLinkWait_ == activity_.work;
    activity_ = {};
    workAtLinkWait_ = UINT64_MAX;
    return a;
}

void Soc::cbusWrite(std::uint16_t port, std::uint16_t value) {
    out16(port, value);
    for (auto& [p, v] : cbus_)
        if (p == port) {
            v = value;
            return;
        }
    cbus_.emplace_back(port, value);
}

std::uint16_t Soc::ioRegister(std::uint16_t port) const {
    if (port == ports::linkRx)
        return linkRxLatch_;
    auto it = regs_.find(port);
    return it == regs_.end() ? 0 : it->second;
}

// --- memory ---------------------------------------------------------------

std::uint8_t Soc::read8(std::uint32_t phys) {
    if (phys >= memmap::flashBase && phys < memmap::flashBase + memmap::flashWindow) {
        flushFlashWrite();
        ++activity_.work;
        ++flashAccesses_;
        const std::uint32_t a = phys - memmap::flashBase;
        // The high byte of a word just read comes from the same chip cycle.
        if ((a & 1) && haveReadWord_ && readWordAddr_ == (a & ~1u)) {
            haveReadWord_ = false;
            return static_cast<std::uint8_t>(readWord_ >> 8);
        }
        const std::uint16_t w = flash_->read(a & ~1u, now());
        const bool again = readWordAddr_ == (a & ~1u);
        haveReadWord_ = !(a & 1);
        readWordAddr_ = a & ~1u;
        readWord_ = w;
        // A program waiting for the chip reads one address over and over
        // (its status); a walk through the chip never does.
        if (skipping_ && again)
            watchForIdleLoop();
        return static_cast<std::uint8_t>((a & 1) ? w >> 8 : w);
    }
    haveReadWord_ = false;
    if (phys >= memmap::romPage)
        return 0xF4;  // HLT
    if (phys < ram_.size())
        return ram_[phys];
    return 0xFF;  // nothing decoded here
}

void Soc::write8(std::uint32_t phys, std::uint8_t v) {
    haveReadWord_ = false;
    if (phys >= memmap::flashBase && phys < memmap::flashBase + memmap::flashWindow) {
        ++activity_.work;
        ++flashAccesses_;
        const std::uint32_t a = phys - memmap::flashBase;
        if (a & 1) {
            if (pendingLow_ && pendingAddr_ == (a & ~1u)) {
                pendingLow_ = false;
                flash_->write(a & ~1u, static_cast<std::uint16_t>(pendingByte_ | (v << 8)), now());
            } else {
                flushFlashWrite();
                // A lone high-byte store: the low lane is not driven.
                flash_->write(a & ~1u, static_cast<std::uint16_t>(0xFF | (v << 8)), now());
            }
            return;
        }
        flushFlashWrite();
        pendingLow_ = true;
        pendingAddr_ = a;
        pendingByte_ = v;
        return;
    }
    flushFlashWrite();
    if (phys < ram_.size())
        ram_[phys] = v;
}

void Soc::flushFlashWrite() {
    if (!pendingLow_)
        return;
    pendingLow_ = false;
    // A lone low-byte store: the command byte is what the chip decodes.
    flash_->write(pendingAddr_, static_cast<std::uint16_t>(pendingByte_ | 0xFF00), now());
}

// --- I/O ------------------------------------------------------------------

std::uint8_t Soc::in8(std::uint16_t port) {
    flushFlashWrite();
    // The high half alone has no side effects (it must not take a byte).
    if (port & 1)
        return static_cast<std::uint8_t>(ioRegister(port & ~1u) >> 8);
    return static_cast<std::uint8_t>(readPort(port));
}

void Soc::out8(std::uint16_t port, std::uint8_t v) {
    if (port & 1)
        writePort(port & ~1u, static_cast<std::uint16_t>(v << 8), 0xFF00);
    else
        writePort(port, v, 0x00FF);
}

std::uint16_t Soc::in16(std::uint16_t port) {
    flushFlashWrite();
    return readPort(port & ~1u);
}

void Soc::out16(std::uint16_t port, std::uint16_t v) {
    flushFlashWrite();
    writePort(port & ~1u, v, 0xFFFF);
}

std::uint16_t Soc::readPort(std::uint16_t port) {
    switch (port) {
    case ports::linkStatus: {
        std::uint16_t s = 0;
        if (!link_.rx.empty())
            s |= ports::rxReady;
        if (link_.txRoom())
            s |= ports::txReady;
        if (link_.rx.empty())
            ++activity_.idlePolls;
        // A byte waiting and room to send: a loop here would take the byte
        // or send, not wait (one that ignores both merely runs unskipped).
        if (skipping_ && s != (ports::rxReady | ports::txReady))
            watchForIdleLoop();
        return s;
    }
    case ports::linkRx: {
        if (link_.rx.empty())
            return ioRegister(port);  // the last byte stays in the register
        const std::uint8_t b = link_.rx.front();
        link_.rx.pop_front();
        linkRxLatch_ = b;
        ++effects_;
        ++activity_.work;
        ++activity_.linkBytes;
        return b;
    }
    case ports::debugStatus:
        return ports::txReady;
    default:
        return ioRegister(port);
    }
}

void Soc::writePort(std::uint16_t port, std::uint16_t value, std::uint16_t mask) {
    switch (port) {
    case ports::linkTx:
        if (mask & 0x00FF) {
            ++activity_.work;
            ++activity_.linkBytes;
            ++effects_;
            if (stopOnOutput_)
                cpu_.requestStop();
            if (link_.txRoom())
                link_.tx.push_back(static_cast<std::uint8_t>(value));
        }
        return;
    case ports::debugTx:
        if (mask & 0x00FF)
            debugOut(static_cast<std::uint8_t>(value));
        return;
    case ports::identity:
    case ports::linkStatus:
    case ports::linkRx:
        return;  // read-only
    default: {
        std::uint16_t& r = regs_[port];
        const auto v = static_cast<std::uint16_t>((r & ~mask) | (value & mask));
        effects_ += v != r;
        r = v;
        if (port == ports::linkDivisor)
            divisorChanged(v);
        return;
    }
    }
}

void Soc::debugOut(std::uint8_t byte) {
    ++activity_.work;
    ++effects_;
    if (debugLog_.size() >= kDebugLogLimit)
        debugLog_.erase(0, kDebugLogLimit / 2);
    debugLog_.push_back(static_cast<char>(byte));
    if (debugSink_)
        debugSink_(std::string_view(debugLog_).substr(debugLog_.size() - 1));
}

} // namespace ombra::sim

namespace ombra::sim {

// Compared with the machine as it stands, so a read that finds no loop
// copies nothing but into the slot it takes.
inline bool Soc::atPoll(const PollState& q) const {
    const Registers& r = cpu_.regs();
    return q.regs.ip == r.ip && q.valid && std::memcmp(&q.regs, &r, sizeof r) == 0 &&
           q.ramChanges == cpu_.ramChanges() && q.effects == effects_ && q.flashKey == flashKey_ &&
           q.rx == link_.rx.size() && q.tx == link_.tx.size() && q.haveReadWord == haveReadWord_ &&
           q.readWordAddr == readWordAddr_ && q.readWord == readWord_;
}

// Called at a link status read, and at a flash read of the address read
// last (a status poll). The link moves bytes only between runs, so a loop
// that came back to a state it had is the same loop from here on, until the
// flash answers otherwise if the loop reads or writes it: its passes up to
// then need not be run.
void Soc::watchForIdleLoop() {
    if (keyAccesses_ != flashAccesses_) {
        flashKey_ = flash_->stateKey();
        keyAccesses_ = flashAccesses_;
    }
    const std::uint64_t executed = cpu_.instructions() - cpu_.skipped();
    const std::uint64_t at = now();
    for (PollState& q : polls_) {
        if (!atPoll(q))
            continue;
        const std::uint64_t period = executed - q.executed;
        const bool metFlash = flashAccesses_ != q.flashAccesses;
        const std::uint64_t since = q.now;
        q.executed = executed;
        q.flashAccesses = flashAccesses_;
        q.now = at;
        if (period == 0)
            return;
        std::uint64_t passes = UINT64_MAX;
        if (metFlash) {
            const std::uint64_t change = flash_->nextChange(at);
            if (flash_->nextChange(since) != change)
                return;  // the flash changed during this pass: a new loop from here
            if (change != UINT64_MAX && nsPerInstruction_ != 0) {
                // The pass run after the skipped ones must still end before
                // the change, to see the flash as this one did.
                const std::uint64_t fit = (change - at) / (period * nsPerInstruction_);
                passes = fit > 1 ? fit - 1 : 0;
            }
        }
        if (passes > 0)
            cpu_.skipPasses(period, passes);
        if (!metFlash)
            workAtLinkWait_ = activity_.work;
        return;
    }
    PollState& p = polls_[nextPoll_++ % polls_.size()];
    p.valid = true;
    p.regs = cpu_.regs();
    p.ramChanges = cpu_.ramChanges();
    p.effects = effects_;
    p.flashKey = flashKey_;
    p.executed = executed;
    p.flashAccesses = flashAccesses_;
    p.now = at;
    p.rx = link_.rx.size();
    p.tx = link_.tx.size();
    p.haveReadWord = haveReadWord_;
    p.readWordAddr = readWordAddr_;
    p.readWord = readWord_;
}

} // namespace ombra::sim
