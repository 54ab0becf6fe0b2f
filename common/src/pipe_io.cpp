#include "ombra/common/pipe_io.h"

#include <algorithm>

#include "ombra/common/pipe_protocol.h"
#include "ombra/platform/pipe.h"

namespace ombra {

bool HandleSource::read(std::span<std::uint8_t> out) {
    std::size_t done = 0;
    while (done < out.size()) {
        const auto chunk = static_cast<DWORD>(std::min<std::size_t>(out.size() - done, 1u << 20));
        DWORD got = 0;
        if (!ReadFile(handle_, out.data() + done, chunk, &got) || got == 0) return false;
        done += got;
    }
    return true;
}

bool HandleSink::write(std::span<const std::uint8_t> bytes) {
    std::size_t done = 0;
    while (done < bytes.size()) {
        const auto chunk = static_cast<DWORD>(std::min<std::size_t>(bytes.size() - done, 1u << 20));
        DWORD put = 0;
        if (!WriteFile(handle_, bytes.data() + done, chunk, &put) || put == 0) return false;
        done += put;
    }
    return true;
}

namespace pipe {

bool PipeRecord::Write(HANDLE pipe) const {
    HandleSink sink(pipe);
    return WriteTo(sink);
}

}  // namespace pipe
}  // namespace ombra
