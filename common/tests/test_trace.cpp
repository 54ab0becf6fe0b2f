#include <gtest/gtest.h>

#include <fstream>
#include <sstream>

#include "../src/trace_internal.h"
#include "ombra/common/trace.h"
#include "ombra/platform/module.h"
#include "ombra/platform/registry.h"
#include "temp_registry.h"

namespace {

DWORD fixedTick() { return 1234; }
DWORD highTick() { return 0x80000005u; }

std::string readFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::stringstream s;
    s << in.rdbuf();
    return s.str();
}

bool exists(const std::string& path) { return std::ifstream(path).good(); }

struct TraceTest : ::testing::Test {
    TempRegistry reg;
    std::string file = reg.file("trace.log");

    void SetUp() override {
        ombra::trace_detail::reset();
        ombra::trace_detail::setTickSource(&fixedTick);
    }
    void TearDown() override {
        ombra::trace_detail::reset();
        ombra::trace_detail::setTickSource(nullptr);
    }

    HKEY key(const char* name) {
        HKEY k = nullptr;
        const std::string path = std::string("Software\\Tarvik\\Ombra\\Debug\\") + name;
        EXPECT_EQ(RegCreateKeyExA(HKEY_LOCAL_MACHINE, path.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &k, nullptr),
                  ERROR_SUCCESS);
        return k;
    }
    void setDword(const char* name, const char* value, DWORD v) {
        HKEY k = key(name);
        RegSetValueExA(k, value, 0, REG_DWORD, reinterpret_cast<const BYTE*>(&v), 4);
        RegCloseKey(k);
    }
    void setText(const char* name, const char* value, const std::string& v) {
        HKEY k = key(name);
        RegSetValueExA(k, value, 0, REG_SZ, reinterpret_cast<const BYTE*>(v.c_str()), static_cast<DWORD>(v.size() + 1));
        RegCloseKey(k);
    }
    void enable(const char* name, DWORD outputs, const std::string& path) {
        setDword(name, "fTraceEnabled", 1);
        setDword(name, "dwTraceType", outputs);
        if (!path.empty()) setText(name, "sTraceFile", path);
    }
};

}  // namespace

TEST_F(TraceTest, MissingOrMistypedSettingsGiveNoOutput) {
    EXPECT_EQ(TraceOpen("Nobody"), 0);  // no Debug key at all
    setText("Typed", "fTraceEnabled", "1");
    setDword("Typed", "dwTraceType", 1);
    setText("Typed", "sTraceFile", file);
    EXPECT_EQ(TraceOpen("Typed"), 0);
    setDword("Typed", "fTraceEnabled", 1);
    setText("Typed", "dwTraceType", "1");
    EXPECT_EQ(TraceOpen("Typed"), 0);
    ::testing::internal::CaptureStderr();
    TraceText("nothing");
    EXPECT_EQ(::testing::internal::GetCapturedStderr(), "");
    EXPECT_FALSE(ombra::trace_detail::isOpened());
    EXPECT_FALSE(exists(file));
}

TEST_F(TraceTest, FileLinesEndInCrLfAndTheFileIsEmptiedAtOpen) {
    std::ofstream(file) << "left from an earlier run\n";
    enable("Ombra", TRACE_FILE, file);
    ASSERT_EQ(TraceOpen("Ombra"), 1);
    TraceText("hello");
    EXPECT_EQ(readFile(file), "1234 : hello\r\n") << "flushed after every line";
    TraceFormat("%s=%d", "a", 5);
    ombra::trace_detail::setTickSource(&highTick);
    TraceText("late");
    EXPECT_EQ(readFile(file), "1234 : hello\r\n1234 : a=5\r\n-2147483643 : late\r\n");
}

TEST_F(TraceTest, LongLinesAreCutToTheBufferKeepingTheLineEnd) {
    enable("Ombra", TRACE_FILE | TRACE_CONSOLE, file);
    ASSERT_EQ(TraceOpen("Ombra"), 1);
    const std::string text(400, 'x');
    ::testing::internal::CaptureStderr();
    TraceText(text.c_str());
    TraceFormat("%s%s", text.c_str(), "tail");
    const std::string console = ::testing::internal::GetCapturedStderr();
    const std::string line = "1234 : " + std::string(TRACE_LINE_SIZE - 1 - 7 - 2, 'x') + "\r\n";
    EXPECT_EQ(line.size(), static_cast<std::size_t>(TRACE_LINE_SIZE - 1));
    EXPECT_EQ(readFile(file), line + line);
    EXPECT_EQ(console, line + line);
}

TEST_F(TraceTest, EnabledWithoutOutputsOpensSilently) {
    enable("Quiet", 0, "");
    EXPECT_EQ(TraceOpen("Quiet"), 1);
    EXPECT_TRUE(ombra::trace_detail::isOpened());
    ::testing::internal::CaptureStderr();
    TraceText("x");
    EXPECT_EQ(::testing::internal::GetCapturedStderr(), "");
}

TEST_F(TraceTest, SwitchedOffLeavesTheModuleOpenForAnotherName) {
    setDword("Off", "fTraceEnabled", 0);
    setDword("Off", "dwTraceType", TRACE_FILE);
    setText("Off", "sTraceFile", reg.file("off.log"));
    EXPECT_EQ(TraceOpen("Off"), 1);
    EXPECT_FALSE(ombra::trace_detail::isOpened());
    enable("On", TRACE_FILE, file);
    EXPECT_EQ(TraceOpen("On"), 1);
    TraceText("y");
    EXPECT_EQ(readFile(file), "1234 : y\r\n");
    EXPECT_FALSE(exists(reg.file("off.log")));
}

TEST_F(TraceTest, FileBitWithoutPathKeepsTheBitsAndReadsAgainLater) {
    enable("Half", TRACE_FILE | TRACE_CONSOLE, "");
    EXPECT_EQ(TraceOpen("Half"), 0);
    EXPECT_EQ(ombra::trace_detail::outputBits(), 3u);
    EXPECT_FALSE(ombra::trace_detail::isOpened());
    ::testing::internal::CaptureStderr();
    TraceText("c");
    EXPECT_EQ(::testing::internal::GetCapturedStderr(), "1234 : c\r\n");

    setText("Half", "sTraceFile", file);
    EXPECT_EQ(TraceOpen("Half"), 1);
    ::testing::internal::CaptureStderr();
    TraceText("d");
    EXPECT_EQ(::testing::internal::GetCapturedStderr(), "1234 : d\r\n");
    EXPECT_EQ(readFile(file), "1234 : d\r\n");
}

TEST_F(TraceTest, TheFirstSuccessfulOpenDecides) {
    enable("First", TRACE_FILE, file);
    enable("Second", TRACE_FILE | TRACE_CONSOLE, reg.file("second.log"));
    ASSERT_EQ(TraceOpen("First"), 1);
    EXPECT_EQ(TraceOpen("Second"), 1);
    EXPECT_EQ(ombra::trace_detail::outputBits(), TRACE_FILE);
    TraceText("z");
    EXPECT_EQ(readFile(file), "1234 : z\r\n");
    EXPECT_FALSE(exists(reg.file("second.log")));
}

TEST_F(TraceTest, AnUnopenableFileSkipsOnlyTheFileOutput) {
    enable("Bad", TRACE_FILE | TRACE_CONSOLE | TRACE_DEBUGGER, reg.file("no/such/folder/x.log"));
    EXPECT_EQ(TraceOpen("Bad"), 1);
    ::testing::internal::CaptureStderr();
    TraceText("still here");
    EXPECT_EQ(::testing::internal::GetCapturedStderr(), "1234 : still here\r\n");
}

// Two modules of one process: each keeps its own name, outputs and file.
TEST_F(TraceTest, EachModuleHasItsOwnState) {
    enable("ModA", TRACE_FILE, file);
    enable("ModB", TRACE_FILE, reg.file("b.log"));
    ASSERT_EQ(TraceOpen("ModA"), 1);
    std::string error;
    auto* module = ombra::platform::loadModule(OMBRA_TRACE_PROBE, error);
    ASSERT_NE(module, nullptr) << error;
    auto probe = reinterpret_cast<int (*)(const char*, const char*)>(ombra::platform::findSymbol(module, "probeTrace"));
    ASSERT_NE(probe, nullptr);
    EXPECT_EQ(probe("ModB", "from b"), 1);
    TraceText("from a");
    const std::string b = readFile(reg.file("b.log"));
    EXPECT_NE(b.find(" : from b\r\n"), std::string::npos);
    EXPECT_EQ(readFile(file), "1234 : from a\r\n");
    EXPECT_EQ(ombra::platform::findSymbol(module, "TraceText"), nullptr) << "the trace is not exported";
}

TEST_F(TraceTest, NestedOrEmptyNamesReachNoOtherKey) {
    // Settings that a nested name would reach, and some on the Debug key itself.
    enable("Burnix\\Deep", TRACE_FILE, file);
    enable("", TRACE_FILE, file);
    for (const char* name : {"Burnix\\Deep", "", "../Deep", "A\nB"}) {
        EXPECT_EQ(TraceOpen(name), 0) << name;
        EXPECT_FALSE(ombra::trace_detail::isOpened());
    }
    TraceText("nothing");
    EXPECT_FALSE(exists(file));
    // A plain name still opens once it is asked for.
    enable("Deep", TRACE_FILE, file);
    EXPECT_EQ(TraceOpen("Deep"), 1);
    EXPECT_TRUE(exists(file));
}
