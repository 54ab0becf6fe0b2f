// Byte sources and sinks over platform pipe handles.
#pragma once

#include "ombra/common/byte_io.h"
#include "ombra/platform/types.h"

namespace ombra {

// A read that gets fewer bytes than asked (the writer went away) fails.
class HandleSource final : public ByteSource {
public:
    explicit HandleSource(HANDLE handle) : handle_(handle) {}
    bool read(std::span<std::uint8_t> out) override;

private:
    HANDLE handle_;
};

class HandleSink final : public ByteSink {
public:
    explicit HandleSink(HANDLE handle) : handle_(handle) {}
    bool write(std::span<const std::uint8_t> bytes) override;

private:
    HANDLE handle_;
};

}  // namespace ombra
