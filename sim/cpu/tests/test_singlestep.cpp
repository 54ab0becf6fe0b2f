// Runs every recorded 8086 vector through the core in the 8086 model with a
// segment shift of 4: registers, written memory, and flags under the
// metadata's undefined-flag masks.
#include <gtest/gtest.h>
#include <zlib.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <set>
#include <sstream>
#include <vector>

#include "json.h"
#include "ombra/sim/cpu.h"

namespace fs = std::filesystem;
using ombra::sim::Cpu;
using ombra::sim::Model;
using ombra::sim::Registers;
using ombra::sim::test::Json;

namespace {

fs::path vectorDir()
{
    if (const char* env = std::getenv("OMBRA_CPU_VECTORS"))
        return env;
    return OMBRA_CPU_VECTORS_DEFAULT;
}

std::string gunzip(const fs::path& file)
{
    std::string out;
    gzFile gz = gzopen(file.c_str(), "rb");
    if (!gz)
        return out;
    char buf[65536];
    int n;
    while ((n = gzread(gz, buf, sizeof buf)) > 0)
        out.append(buf, std::size_t(n));
    gzclose(gz);
    return out;
}

// Flat 1 MiB memory that remembers which bytes the core wrote.
struct VectorBus final : ombra::sim::Bus {
    std::vector<std::uint8_t> mem = std::vector<std::uint8_t>(1u << 20, 0);
    std::set<std::uint32_t> written;
    std::uint8_t read8(std::uint32_t p) override { return mem.at(p); }
    void write8(std::uint32_t p, std::uint8_t v) override
    {
        mem.at(p) = v;
        written.insert(p);
    }
    std::uint8_t in8(std::uint16_t) override { return 0xFF; }
    void out8(std::uint16_t, std::uint8_t) override {}
};

std::uint16_t Registers::*const kFields[] = {
    &Registers::ax, &Registers::bx, &Registers::cx, &Registers::dx, &Registers::si,
    &Registers::di, &Registers::bp, &Registers::sp, &Registers::cs, &Registers::ds,
    &Registers::es, &Registers::ss, &Registers::ip, &Registers::flags};
const char* const kNames[] = {"ax", "bx", "cx", "dx", "si", "di", "bp",
                              "sp", "cs", "ds", "es", "ss", "ip", "flags"};

void loadRegs(Registers& r, const Json& j)
{
    for (std::size_t i = 0; i < std::size(kFields); ++i)
        if (const Json* v = j.find(kNames[i]))
            r.*kFields[i] = std::uint16_t(v->integer());
}

// Metadata key of a file: "D0.4.json.gz" -> opcode D0, group entry 4.
std::uint16_t flagMask(const Json& meta, const std::string& stem)
{
    const std::string op = stem.substr(0, 2);
    const Json* entry = meta["opcodes"].find(op);
    if (!entry)
        return 0xFFFF;
    if (stem.size() > 3 && stem[2] == '.') {
        const Json* g = (*entry)["reg"].find(stem.substr(3, 1));
        if (g)
            entry = g;
    }
    const Json* m = entry->find("flags-mask");
    return m ? std::uint16_t(m->integer()) : 0xFFFF;
}

bool isRepString(const Json& bytes)
{
    bool rep = false;
    for (const Json& b : bytes.items) {
        const int v = int(b.integer());
        if (v == 0xF2 || v == 0xF3)
            rep = true;
        else if (v == 0x26 || v == 0x2E || v == 0x36 || v == 0x3E || v == 0xF0)
            continue;
        else
            return rep && ((v >= 0xA4 && v <= 0xA7) || (v >= 0xAA && v <= 0xAF));
    }
    return false;
}

class Vectors : public ::testing::TestWithParam<std::string> {};

TEST_P(Vectors, MatchRecordedState)
{
    const fs::path dir = vectorDir();
    std::ifstream metaFile(dir / "metadata.json");
    std::stringstream metaText;
    metaText << metaFile.rdbuf();
    const Json meta = Json::parse(metaText.str());
    const std::string stem = GetParam();
    const std::uint16_t mask = flagMask(meta, stem);
    const Json tests = Json::parse(gunzip(dir / (stem + ".json.gz")));
    ASSERT_FALSE(tests.items.empty()) << "no vectors in " << stem;

    for (bool mapped : {false, true}) {
        VectorBus bus;
        Cpu cpu(bus, Model::i8086, 4);
        if (mapped)  // the RAM fast path: the same vectors without bus calls
            cpu.mapRam(bus.mem.data(), std::uint32_t(bus.mem.size()));
        int failures = 0;
        for (const Json& t : tests.items) {
            const Json& init = t["initial"];
            const Json& fin = t["final"];
            for (const Json& cell : init["ram"].items)
                bus.mem.at(std::uint32_t(cell.items.at(0).integer())) = std::uint8_t(cell.items.at(1).integer());
            bus.written.clear();
            cpu.reset(0, 0);
            loadRegs(cpu.regs(), init["regs"]);
            Registers expect = cpu.regs();
            loadRegs(expect, fin["regs"]);

            if (isRepString(t["bytes"])) {
                const Registers start = cpu.regs();
                for (int i = 0; i < 0x20000; ++i) {
                    cpu.step();
                    if (cpu.regs().ip != start.ip || cpu.regs().cs != start.cs)
                        break;
                }
            } else {
                cpu.step();
            }

            std::ostringstream why;
            const Registers& got = cpu.regs();
            for (std::size_t i = 0; i < std::size(kFields); ++i) {
                std::uint16_t a = got.*kFields[i], b = expect.*kFields[i];
                if (kFields[i] == &Registers::flags) {
                    a &= mask;
                    b &= mask;
                }
                if (a != b)
                    why << " " << kNames[i] << "=" << std::hex << a << " want " << b << std::dec;
            }
            // An instruction that traps (a divide error) pushes its undefined
            // flags too: that stacked copy is compared under the same mask.
            std::uint32_t flagsImage = ~0u;
            if (mask != 0xFFFF && expect.sp == std::uint16_t(init["regs"]["sp"].integer() - 6))
                flagsImage = cpu.physical(expect.ss, std::uint16_t(expect.sp + 4));
            std::set<std::uint32_t> expected;
            for (const Json& cell : fin["ram"].items) {
                const std::uint32_t addr = std::uint32_t(cell.items.at(0).integer());
                std::uint8_t want = std::uint8_t(cell.items.at(1).integer());
                std::uint8_t have = bus.mem.at(addr);
                expected.insert(addr);
                if (addr == flagsImage || addr == ((flagsImage + 1) & 0xFFFFF)) {
                    const std::uint8_t m = std::uint8_t(addr == flagsImage ? mask : mask >> 8);
                    want &= m;
                    have &= m;
                }
                if (have != want)
                    why << " [" << std::hex << addr << "]=" << int(bus.mem.at(addr)) << " want " << int(want) << std::dec;
            }
            for (std::uint32_t addr : bus.written)
                if (!expected.count(addr))
                    why << " stray write at " << std::hex << addr << std::dec;
            if (!why.str().empty() && ++failures <= 5)
                ADD_FAILURE() << (mapped ? "mapped " : "") << stem << " #" << t["test_num"].integer() << " " << t["name"].text << ":" << why.str();
            for (const Json& cell : init["ram"].items)
                bus.mem.at(std::uint32_t(cell.items.at(0).integer())) = 0;
            for (std::uint32_t addr : bus.written)
                bus.mem.at(addr) = 0;
            for (std::uint32_t addr : expected)
                bus.mem.at(addr) = 0;
        }
        EXPECT_EQ(failures, 0) << "of " << tests.items.size() << " vectors in " << stem << (mapped ? " (mapped RAM)" : "");
    }
}

std::vector<std::string> vectorFiles()
{
    std::vector<std::string> names;
    std::error_code ec;
    for (const auto& e : fs::directory_iterator(vectorDir(), ec)) {
        const std::string n = e.path().filename().string();
        if (n.size() > 8 && n.ends_with(".json.gz") && n != "metadata.json.gz")
            names.push_back(n.substr(0, n.size() - 8));
    }
    std::sort(names.begin(), names.end());
    return names;
}

std::string testName(const ::testing::TestParamInfo<std::string>& info)
{
    std::string s = "op" + info.param;
    std::replace(s.begin(), s.end(), '.', '_');
    return s;
}

INSTANTIATE_TEST_SUITE_P(Cpu8086, Vectors, ::testing::ValuesIn(vectorFiles()), testName);

TEST(VectorSuite, IsPresent)
{
    EXPECT_GT(vectorFiles().size(), 250u) << "vector folder: " << vectorDir();
}

} // namespace
