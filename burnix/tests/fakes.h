// Test doubles for the programmer core: a port with queued replies and
// captured writes, a remote program that answers like the board's, a host
// with in-memory files, and a record sink that keeps what it was given.
#pragma once

#include <deque>
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "ombra/burnix/host.h"
#include "ombra/burnix/link.h"
#include "ombra/burnix/xmodem.h"
#include "ombra/common/frame.h"

namespace ombra::burnix::test {

struct Record {
    int type;  // 1 text, 2 status, 3 progress
    std::string text;
    DWORD a = 0, b = 0;
};

class CaptureSink : public RecordSink {
public:
    void text(std::string_view t, DWORD cls) override { records.push_back({1, std::string(t), cls, 0}); }
    void status(DWORD code, DWORD value) override { records.push_back({2, {}, code, value}); }
    void progress(DWORD done, DWORD total) override { records.push_back({3, {}, done, total}); }
    std::vector<std::string> texts() const {
        std::vector<std::string> out;
        for (auto& r : records)
            if (r.type == 1) out.push_back(r.text);
        return out;
    }
    std::vector<DWORD> statuses() const {
        std::vector<DWORD> out;
        for (auto& r : records)
            if (r.type == 2) out.push_back(r.a);
        return out;
    }
    std::vector<std::pair<DWORD, DWORD>> progress() const {
        std::vector<std::pair<DWORD, DWORD>> out;
        for (auto& r : records)
            if (r.type == 3) out.emplace_back(r.a, r.b);
        return out;
    }
    bool hasText(std::string_view t) const {
        for (auto& s : texts())
            if (s == t) return true;
        return false;
    }
    std::vector<Record> records;
};

class NullTrace : public Trace {
public:
    void open(std::string_view n) override {
        if (name.empty()) name = n;
    }
    void line(std::string_view) override {}
    std::string name;
};

// A port whose input is a queue. `onWrite` lets a fake remote answer.
class FakePort : public Transport {
public:
    std::deque<std::uint8_t> input;
    std::vector<std::uint8_t> written;
    std::function<void(std::span<const std::uint8_t>)> onWrite;
    bool cancel = false;
    bool broken = false;  // the device went away
    int emptyReads = 0;
    int emptyReadLimit = 2000;  // a test that would wait forever cancels instead
    int purges = 0;
    bool closed = false;

    void feed(std::span<const std::uint8_t> bytes) { input.insert(input.end(), bytes.begin(), bytes.end()); }
    void feed(std::initializer_list<std::uint8_t> bytes) { input.insert(input.end(), bytes); }

    Io read(std::span<std::uint8_t> bytes, std::size_t& got) override {
        got = 0;
        while (got < bytes.size() && !input.empty()) {
            bytes[got++] = input.front();
            input.pop_front();
        }
        if (cancel) return Io::cancelled;
        if (got == bytes.size()) return Io::ok;
        if (broken) return Io::failed;
        if (++emptyReads > emptyReadLimit) cancel = true;
        return cancel ? Io::cancelled : Io::timeout;
    }
    Io readByteWithin(std::uint8_t& byte, DWORD) override {
        std::size_t got = 0;
        return read(std::span(&byte, 1), got);
    }
    Io write(std::span<const std::uint8_t> bytes) override {
        if (cancel) return Io::cancelled;
        written.insert(written.end(), bytes.begin(), bytes.end());
        if (onWrite) onWrite(bytes);
        return Io::ok;
    }
    void flush() override {}
    void purge(unsigned flags) override {
        ++purges;
        if (flags & kPurgeRxClear) input.clear();
    }
    void clearError() override {}
    void setQueues(DWORD, DWORD) override {}
    bool cancelled() override { return cancel; }
};

// Owns the port state across opens: the operation holds a thin handle.
class PortHandle : public Transport {
public:
    explicit PortHandle(FakePort& p) : p_(p) {}
    ~PortHandle() override { p_.closed = true; }
    Io read(std::span<std::uint8_t> b, std::size_t& g) override { return p_.read(b, g); }
    Io readByteWithin(std::uint8_t& b, DWORD ms) override { return p_.readByteWithin(b, ms); }
    Io write(std::span<const std::uint8_t> b) override { return p_.write(b); }
    void flush() override { p_.flush(); }
    void purge(unsigned f) override { p_.purge(f); }
    void clearError() override { p_.clearError(); }
    void setQueues(DWORD i, DWORD o) override { p_.setQueues(i, o); }
    bool cancelled() override { return p_.cancelled(); }

private:
    FakePort& p_;
};

class MemImage : public ImageFile {
public:
    explicit MemImage(const std::vector<std::uint8_t>& b) : b_(b) {}
    std::span<const std::uint8_t> bytes() const override { return b_; }

private:
    const std::vector<std::uint8_t>& b_;
};

class MemDump : public DumpFile {
public:
    explicit MemDump(std::vector<std::uint8_t>& b, bool fail) : b_(b), fail_(fail) {}
    std::span<std::uint8_t> map(std::size_t size, std::string& error) override {
        if (fail_) {
            error = "No space left on device";
            return {};
        }
        b_.assign(size, 0);
        return b_;
    }

private:
    std::vector<std::uint8_t>& b_;
    bool fail_;
};

class FakeHost : public Host {
public:
    FakePort port;
    bool portFails = false;
    int opens = 0;
    std::map<std::string, std::vector<std::uint8_t>> files;
    bool mapFails = false;
    bool raised = false;

    std::unique_ptr<Transport> openPort(DWORD) override {
        ++opens;
        if (portFails) return nullptr;
        port.closed = false;
        return std::make_unique<PortHandle>(port);
    }
    std::unique_ptr<ImageFile> openImage(const std::string& path, std::string& error) override {
        auto it = files.find(path);
        if (it == files.end()) {
            error = "The system cannot find the file specified.";
            return nullptr;
        }
        return std::make_unique<MemImage>(it->second);
    }
    std::unique_ptr<DumpFile> createDumpFile(const std::string& path, std::string& error) override {
        if (path.empty()) {
            error = "bad path";
            return nullptr;
        }
        return std::make_unique<MemDump>(files[path], mapFails);
    }
    void sleepMs(DWORD) override {}
    void raisePriority(bool high) override { raised = high; }
};

// Builds one XModem block as a sender does.
inline std::vector<std::uint8_t> xmBlock(std::uint8_t number, std::span<const std::uint8_t> data, bool crc = false) {
    std::vector<std::uint8_t> b;
    b.push_back(data.size() == 1024 ? xm::kStx : xm::kSoh);
    b.push_back(number);
    b.push_back(static_cast<std::uint8_t>(~number));
    b.insert(b.end(), data.begin(), data.end());
    if (crc) {
        const std::uint16_t c = crc16Xmodem(data);
        b.push_back(static_cast<std::uint8_t>(c >> 8));
        b.push_back(static_cast<std::uint8_t>(c));
    } else {
        b.push_back(static_cast<std::uint8_t>(frame::sum(data)));
    }
    return b;
}

// An XModem sender driven by the receiver's bytes: NAK or 'C' (re)sends the
// current block, ACK moves on, EOT after the last.
class XmSender {
public:
    std::vector<std::vector<std::uint8_t>> blocks;  // wire form of each
    std::size_t next = 0;
    bool eotSent = false;
    bool finished = false;
    // Optional hook to change a block on its first transmission.
    std::function<std::vector<std::uint8_t>(std::size_t, std::vector<std::uint8_t>)> mangleOnce;
    std::vector<bool> mangled;

    void load(std::span<const std::uint8_t> data, std::size_t blockSize, bool crc = false) {
        std::uint8_t n = 1;
        for (std::size_t off = 0; off < data.size(); off += blockSize, ++n) {
            std::vector<std::uint8_t> d(blockSize, 0x1A);
            std::copy_n(data.begin() + static_cast<std::ptrdiff_t>(off), std::min(blockSize, data.size() - off), d.begin());
            blocks.push_back(xmBlock(n, d, crc));
        }
        mangled.assign(blocks.size(), false);
    }
    void onHost(std::uint8_t b, FakePort& port) {
        if (finished) return;
        if (b == xm::kAck) {
            if (eotSent) {
                finished = true;
                return;
            }
            if (next < blocks.size()) ++next;
        } else if (b != xm::kNak && b != xm::kCrcRequest) {
            return;
        }
        if (next >= blocks.size()) {
            port.feed({xm::kEot});
            eotSent = true;
            return;
        }
        auto wire = blocks[next];
        if (mangleOnce && !mangled[next]) {
            mangled[next] = true;
            wire = mangleOnce(next, wire);
        }
        port.feed(wire);
    }
};

}  // namespace ombra::burnix::test
