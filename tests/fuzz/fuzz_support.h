// Small helpers the fuzz targets share: a cursor over the fuzzer's bytes and
// a check whose failure is a crash the fuzzer keeps.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace ombra::fuzz {

// A broken invariant stops the run with its input saved.
#define OMBRA_FUZZ_CHECK(cond)                                                           \
    do {                                                                                 \
        if (!(cond)) {                                                                   \
            std::fprintf(stderr, "%s:%d: check failed: %s\n", __FILE__, __LINE__, #cond); \
            std::abort();                                                                \
        }                                                                                \
    } while (0)

// Takes leading bytes as choices; what is left is the reader's input.
class Input {
public:
    Input(const std::uint8_t* data, std::size_t size) : bytes_(data, size) {}
    // The next byte, or 0 when none is left.
    std::uint8_t take()
    {
        if (bytes_.empty())
            return 0;
        const std::uint8_t b = bytes_.front();
        bytes_ = bytes_.subspan(1);
        return b;
    }
    std::span<const std::uint8_t> rest() const { return bytes_; }
    std::string_view text() const { return {reinterpret_cast<const char*>(bytes_.data()), bytes_.size()}; }

private:
    std::span<const std::uint8_t> bytes_;
};

// The bytes cut into arguments at each NUL, as an argv would hold them.
inline std::vector<std::string> splitArguments(std::string_view text)
{
    std::vector<std::string> args;
    std::size_t from = 0;
    for (;;) {
        const std::size_t end = text.find('\0', from);
        args.emplace_back(text.substr(from, end == std::string_view::npos ? std::string_view::npos : end - from));
        if (end == std::string_view::npos)
            return args;
        from = end + 1;
    }
}

}  // namespace ombra::fuzz
