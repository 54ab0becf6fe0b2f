#include "remote_fixture.h"

#include <algorithm>
#include <fstream>
#include <iterator>
#include <thread>

namespace ombra::remote::test {

const char* driverName(Family family) {
    switch (family) {
    case Family::sst: return "SST";
    case Family::intel: return "Intel";
    case Family::amd: return "AMD";
    }
    return "";
}

std::vector<std::uint8_t> driverProgram(Family family, const char* file) {
    const std::string path =
        std::string(OMBRA_DRIVER_TREE) + "/" + driverName(family) + "/RemoteCode/" + file;
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

std::vector<std::uint8_t> randomBytes(std::size_t n, std::uint32_t seed) {
    std::mt19937 gen(seed);
    std::vector<std::uint8_t> v(n);
    for (auto& b : v) b = static_cast<std::uint8_t>(gen());
    return v;
}

std::uint16_t byteSum(std::span<const std::uint8_t> bytes) {
    std::uint16_t s = 0;
    for (auto b : bytes) s = static_cast<std::uint16_t>(s + b);
    return s;
}

std::uint32_t loadPhys(Family family) {
    const std::uint32_t far = loadAddress(family);
    return ((far >> 16) << 8) + (far & 0xFFFF);
}

RemoteBoard::RemoteBoard(const PartCase& part, Options options) : family_(part.family) {
    sim::BoardOptions o;
    o.flashModel = part.model;
    o.paced = options.paced;
    o.flashTimeScale = options.flashTimeScale;
    o.identity = options.identity;
    if (options.inboundDelayMs != 0) {
        sim::FaultRule late;
        late.direction = sim::FaultRule::Direction::toBoard;
        late.kind = sim::FaultRule::Kind::delay;
        late.probability = 1.0;
        late.ms = options.inboundDelayMs;
        o.faults.push_back(late);
    }
    board_ = std::make_unique<sim::Board>(o);
    link_ = std::make_unique<HostLink>(board_->portPath(), 19200);
}

::testing::AssertionResult RemoteBoard::start(std::span<const std::uint8_t> image) {
    if (image.empty()) return ::testing::AssertionFailure() << "no image";
    const std::size_t logFrom = board_->debugLog().size();
    board_->loadAndStart(loadAddress(family_), image);
    // the ROM pings too: wait for the program's own debug line first
    const auto deadline = std::chrono::steady_clock::now() + 10s;
    while (board_->debugLog().find("PING", logFrom) == std::string::npos) {
        if (std::chrono::steady_clock::now() > deadline)
            return ::testing::AssertionFailure() << "program never pinged; debug log: "
                                                 << board_->debugLog();
        std::this_thread::sleep_for(5ms);
    }
    link_->discardInput();
    return expect(kPing);
}

::testing::AssertionResult RemoteBoard::expect(std::uint8_t type, frame::Frame* out,
                                               std::chrono::milliseconds limit) {
    const auto deadline = std::chrono::steady_clock::now() + limit;
    for (;;) {
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
            deadline - std::chrono::steady_clock::now());
        auto f = link_->readFrame(left);
        if (!f)
            return ::testing::AssertionFailure()
                   << "no frame of type " << int(type) << "; debug log: " << board_->debugLog();
        if (!f->sumOk) return ::testing::AssertionFailure() << "a frame with a wrong sum";
        if (f->type == type) {
            if (out) *out = *f;
            return ::testing::AssertionSuccess();
        }
        if (f->type != kPing)
            return ::testing::AssertionFailure()
                   << "frame " << int(f->type) << " instead of " << int(type);
    }
}

::testing::AssertionResult RemoteBoard::inRomWithin(std::chrono::milliseconds limit) {
    const auto deadline = std::chrono::steady_clock::now() + limit;
    while (!board_->inRom()) {
        if (std::chrono::steady_clock::now() > deadline)
            return ::testing::AssertionFailure() << "still in the program; debug log: "
                                                 << board_->debugLog();
        std::this_thread::sleep_for(5ms);
    }
    return ::testing::AssertionSuccess();
}

::testing::AssertionResult RemoteBoard::erase(bool wholeChip, std::uint32_t end) {
    if (wholeChip) {
        link_->sendFrame(kErase);
        return expect(kDone, nullptr, 60s);
    }
    // block by block from 0, every block that starts at or below `end`
    std::uint32_t address = 0;
    for (const auto& region : board_->flashPart().regions) {
        for (std::uint32_t i = 0; i < region.count && address <= end; ++i) {
            link_->sendFrame(kEraseBlock, be32(address));
            if (auto r = expect(kDone, nullptr, 60s); !r) return r << " at block " << address;
            address += region.size;
        }
    }
    return ::testing::AssertionSuccess();
}

namespace {

std::vector<std::uint8_t> programPayload(std::uint32_t address, std::size_t size) {
    auto payload = be32(address);
    const auto count = be32(static_cast<std::uint32_t>(size));
    payload.insert(payload.end(), count.begin(), count.end());
    return payload;
}

}  // namespace

void RemoteBoard::program(std::uint32_t address, std::span<const std::uint8_t> data) {
    link_->sendFrame(kProgram, programPayload(address, data.size()));
    for (std::size_t sent = 0; sent < data.size(); sent += 4096)
        link_->send(data.subspan(sent, std::min<std::size_t>(4096, data.size() - sent)));
}

::testing::AssertionResult RemoteBoard::programInSteps(std::uint32_t address,
                                                       std::span<const std::uint8_t> data) {
    link_->sendFrame(kProgram, programPayload(address, data.size()));
    for (std::size_t sent = 0; sent < data.size();) {
        const auto chunk = data.subspan(sent, std::min<std::size_t>(4096, data.size() - sent));
        link_->send(chunk);
        sent += chunk.size();
        // Generous: a few milliseconds of board time, but the board's thread
        // may wait long for a core on a loaded machine.
        const auto deadline = std::chrono::steady_clock::now() + 30s;
        for (;;) {
            const auto flash = board_->readFlash(address, static_cast<std::uint32_t>(sent));
            if (std::equal(flash.begin(), flash.end(), data.begin(), data.begin() + static_cast<std::ptrdiff_t>(sent)))
                break;
            if (std::chrono::steady_clock::now() > deadline)
                return ::testing::AssertionFailure()
                       << "the flash does not hold the first " << sent << " bytes; debug log: " << board_->debugLog();
            std::this_thread::sleep_for(2ms);
        }
    }
    return ::testing::AssertionSuccess();
}

std::optional<std::uint16_t> RemoteBoard::verifySum(std::uint32_t address, std::uint16_t count) {
    auto payload = be32(address);
    const auto c = be16(count);
    payload.insert(payload.end(), c.begin(), c.end());
    link_->sendFrame(kVerify, payload);
    frame::Frame f;
    if (!expect(kVerifyRes, &f, 20s) || f.payload.size() != 2) return std::nullopt;
    return static_cast<std::uint16_t>(f.payload[0] << 8 | f.payload[1]);
}

}  // namespace ombra::remote::test
