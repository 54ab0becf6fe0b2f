// A programmer's serial port whose input is the fuzzer's bytes. Once they
// run out, reads time out a few times and then the termination event fires,
// so receivers that wait without limit still end.
#pragma once

#include <algorithm>
#include <span>
#include <string_view>

#include "ombra/burnix/host.h"

namespace ombra::fuzz {

class FuzzPort final : public burnix::Transport {
public:
    explicit FuzzPort(std::span<const std::uint8_t> input, int silentReads = 3) : input_(input), silent_(silentReads) {}

    burnix::Io read(std::span<std::uint8_t> bytes, std::size_t& got) override
    {
        got = std::min(bytes.size(), input_.size() - pos_);
        std::copy_n(input_.begin() + static_cast<std::ptrdiff_t>(pos_), got, bytes.begin());
        pos_ += got;
        if (got == bytes.size())
            return burnix::Io::ok;
        if (cancelled())
            return burnix::Io::cancelled;
        ++emptyReads_;
        return burnix::Io::timeout;
    }
    burnix::Io readByteWithin(std::uint8_t& byte, DWORD) override
    {
        std::size_t got = 0;
        return read(std::span(&byte, 1), got);
    }
    burnix::Io write(std::span<const std::uint8_t> bytes) override
    {
        written_ += bytes.size();
        return cancelled() ? burnix::Io::cancelled : burnix::Io::ok;
    }
    void flush() override {}
    void purge(unsigned) override {}
    void clearError() override {}
    void setQueues(DWORD, DWORD) override {}
    bool cancelled() override { return pos_ == input_.size() && emptyReads_ >= silent_; }

private:
    std::span<const std::uint8_t> input_;
    std::size_t pos_ = 0;
    int silent_;
    int emptyReads_ = 0;
    std::size_t written_ = 0;
};

class NullSink final : public burnix::RecordSink {
public:
    void text(std::string_view, DWORD) override {}
    void status(DWORD, DWORD) override {}
    void progress(DWORD, DWORD) override {}
};

class NullTrace final : public burnix::Trace {
public:
    void open(std::string_view) override {}
    void line(std::string_view) override {}
};

}  // namespace ombra::fuzz
