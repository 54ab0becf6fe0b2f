// Throughput of Burnix on the paced simulator: the streaming phase of a burn
// and a dump, each as a fraction of the line rate (baud / 10 bytes per
// second), and a whole burn with verification next to its theoretical
// minimum (bytes on the wire at the line rate plus the simulated erase).
//
//   burnix_bench [image bytes, default 1048576] [baud ...]
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <mutex>
#include <vector>

#include "ombra/platform/com.h"
#include "sim_rig.h"

using namespace ombra;
using namespace ombra::burnix::simtest;
using Clock = std::chrono::steady_clock;

namespace {

struct Span {
    Clock::time_point first, last;
    DWORD firstDone = 0, lastDone = 0;
    bool seen = false;
    std::mutex mutex;
    void note(const pipe::Record& r) {
        auto* p = std::get_if<pipe::ProgressMessage>(&r);
        if (!p) return;
        std::lock_guard lock(mutex);
        const auto now = Clock::now();
        if (!seen) {
            first = now;
            firstDone = p->done;
            seen = true;
        }
        last = now;
        lastDone = p->done;
    }
    // Bytes per second between the first and the last progress record.
    double rate() {
        const double s = std::chrono::duration<double>(last - first).count();
        return s > 0 ? (lastDone - firstDone) / s : 0;
    }
};

// BURNIX_BENCH_UNPACED=1 runs the board as fast as it goes: the figures
// then bound what the host side alone can move.
sim::BoardOptions paced() {
    sim::BoardOptions o;
    o.paced = std::getenv("BURNIX_BENCH_UNPACED") == nullptr;
    o.flashTimeScale = 1.0;
    return o;
}

const char* kPart = "SST39LF/VF160";
constexpr double kEraseSeconds = 0.040;  // the part's chip erase time

void burnCase(DWORD baud, const std::vector<std::uint8_t>& image, bool verify) {
    Rig rig(kPart, paced(), baud);
    auto* burn = rig.start<IBurnixBurn>("SST", "Tordel", IID_IBurnixBurn);
    RecordReader reader;
    Span stream;
    bool verifying = false;
    reader.onRecord = [&](const pipe::Record& r) {
        if (auto* t = std::get_if<pipe::TextMessage>(&r)) verifying |= t->text == "SST:Flash burning complete.";
        if (!verifying) stream.note(r);
    };
    burn->SetBurnSource(writeTemp("bench.bin", image).c_str());
    burn->SetBurnSpan(0, static_cast<DWORD>(image.size()));
    rig.configure(burn, reader.writeEnd());
    burn->SetVerifyFlag(verify);
    const auto start = Clock::now();
    const HRESULT hr = burn->Burn();
    const double seconds = std::chrono::duration<double>(Clock::now() - start).count();
    burn->Release();
    const auto records = reader.finish();
    if (hr != S_OK)
        for (const auto& t : RecordReader::texts(records)) std::fprintf(stderr, "  %s\n", t.c_str());
    const double line = baud / 10.0;
    if (!verify) {
        std::printf("burn stream  %7u baud  %8zu bytes  %9.0f B/s  %.3f of line rate%s\n", baud, image.size(),
                    stream.rate(), stream.rate() / line, hr == S_OK ? "" : "  (burn FAILED)");
        return;
    }
    // Wire bytes: ERASE, its DONE, PROGRAM, the image, DONE, a VERIFY and
    // its reply per 4096-byte chunk, RESET; the first PING as well.
    const std::size_t chunks = (image.size() + 4095) / 4096;
    const double wire = 6 + 6 + 6 + 14 + static_cast<double>(image.size()) + 6 + chunks * (12 + 8) + 6;
    const double minimum = wire / line + kEraseSeconds;
    std::printf("burn+verify  %7u baud  %8zu bytes  %7.2f s  minimum %7.2f s  ratio %.3f%s\n", baud, image.size(),
                seconds, minimum, minimum / seconds, hr == S_OK ? "" : "  (burn FAILED)");
}

void dumpCase(DWORD baud, const std::vector<std::uint8_t>& image) {
    Rig rig(kPart, paced(), baud);
    rig.board().writeFlash(0, image);
    auto* dump = rig.start<IBurnixDump>("SST", "Lunet", IID_IBurnixDump);
    RecordReader reader;
    Span span;
    reader.onRecord = [&](const pipe::Record& r) { span.note(r); };
    dump->SetDumpTarget((scratchDir() + "/bench-dump.bin").c_str());
    dump->SetDumpSpan(0, static_cast<DWORD>(image.size()));
    rig.configure(dump, reader.writeEnd());
    const HRESULT hr = dump->Dump();
    dump->Release();
    const auto records = reader.finish();
    const bool ok = hr == S_OK && !RecordReader::statuses(records).empty() &&
                    RecordReader::statuses(records).back() == pipe::E_STATUS_SUCCESS;
    std::printf("dump         %7u baud  %8zu bytes  %9.0f B/s  %.3f of line rate%s\n", baud, image.size(),
                span.rate(), span.rate() / (baud / 10.0), ok ? "" : "  (dump FAILED)");
}

}  // namespace

int main(int argc, char** argv) {
    const std::size_t size = argc > 1 ? std::strtoul(argv[1], nullptr, 0) : 1u << 20;
    std::vector<DWORD> bauds;
    for (int i = 2; i < argc; ++i) bauds.push_back(static_cast<DWORD>(std::strtoul(argv[i], nullptr, 0)));
    if (bauds.empty()) bauds = {115200, 460800};
    const auto image = testImage(size, 9);
    try {
        for (DWORD baud : bauds) {
            burnCase(baud, image, false);
            dumpCase(baud, image);
            burnCase(baud, image, true);
        }
    } catch (const std::exception& e) {
        std::fprintf(stderr, "burnix_bench: %s\n", e.what());
        return 1;
    }
    return 0;
}
