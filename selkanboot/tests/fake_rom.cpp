#include "fake_rom.h"

#include <chrono>
#include <fcntl.h>
#include <poll.h>
#include <stdexcept>
#include <stdlib.h>
#include <termios.h>
#include <unistd.h>

#include "ombra/common/frame.h"

namespace ombra::selkanboot::test {

using Clock = std::chrono::steady_clock;

FakeRom::FakeRom(FakeRomScript script) : script_(script)
{
    master_ = posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
    if (master_ < 0 || grantpt(master_) != 0 || unlockpt(master_) != 0)
        throw std::runtime_error("no pseudo-terminal");
    path_ = ptsname(master_);
    slave_ = open(path_.c_str(), O_RDWR | O_NOCTTY | O_CLOEXEC);
    termios t {};
    tcgetattr(slave_, &t);
    cfmakeraw(&t);
    tcsetattr(slave_, TCSANOW, &t);
    tcgetattr(master_, &t);
    cfmakeraw(&t);
    tcsetattr(master_, TCSANOW, &t);
    thread_ = std::thread([this] { run(); });
}

FakeRom::~FakeRom()
{
    stop_ = true;
    thread_.join();
    close(slave_);
    close(master_);
}

FakeRom::Seen FakeRom::seen()
{
    std::lock_guard lock(mutex_);
    return seen_;
}

void FakeRom::send(std::uint8_t type, const std::vector<std::uint8_t>& payload)
{
    std::vector<std::uint8_t> bytes = frame::encode(type, payload);
    std::size_t done = 0;
    while (done < bytes.size()) {
        ssize_t n = write(master_, bytes.data() + done, bytes.size() - done);
        if (n > 0)
            done += std::size_t(n);
        else
            usleep(1000);
    }
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
        pollfd p {master_, POLLIN, 0};
        poll(&p, 1, 5);
        if (!script_.silent && !hostSeen_ && Clock::now() >= nextPing) {
            send(0x22, {0x01});
            nextPing = Clock::now() + std::chrono::milliseconds(script_.pingIntervalMs);
        }
        if (!(p.revents & POLLIN))
            continue;
        ssize_t n = read(master_, buf, sizeof buf);
        if (n <= 0)
            continue;
        for (ssize_t i = 0; i < n; ++i) {
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
