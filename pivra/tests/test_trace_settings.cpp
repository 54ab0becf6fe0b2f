// The registry side of the trace settings, without a window.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "command_line.h"
#include "ombra/platform/registry.h"
#include "pivra_test_support.h"
#include "trace_settings.h"

namespace ombra::pivra {
namespace {

using namespace ombra::pivra::test;

TEST(PivraSettingsLoad, StoredValuesAreTakenAsTheFlagsShowThem) {
    TempRegistry registry;
    struct Case {
        DWORD enabled, type;
        TraceValues expected;
    } cases[] = {
        {0, 0, {0, 0, 0, "/var/log/t.log"}},
        {1, 1, {1, 0, 1, "/var/log/t.log"}},
        {1, 2, {1, 1, 0, "/var/log/t.log"}},
        {5, 7, {1, 1, 1, "/var/log/t.log"}},  // any nonzero is on; the debugger bit has no box
        {1, 0xFFFFFFF8u, {1, 0, 0, "/var/log/t.log"}},
    };
    for (const auto& c : cases) {
        writeContext("Tordel", c.enabled, c.type, "/var/log/t.log");
        TraceValues values{0, 1, 1, "x"};
        EXPECT_EQ(loadTraceValues("Tordel", values), LoadOutcome::loaded);
        EXPECT_EQ(values, c.expected) << c.enabled << " " << c.type;
    }
}

TEST(PivraSettingsLoad, MissingOrMistypedValuesLeaveTheFlagsAsTheyWere) {
    TempRegistry registry;
    writeText("Lunet", "fTraceEnabled", "1");                    // a text is not a flag
    writeValue("Lunet", "dwTraceType", REG_BINARY, "\x03\0\0\0");  // nor are raw bytes
    writeDword("Lunet", "sTraceFile", 3);                          // nor a number a path
    TraceValues values{0, 1, 0, "/kept/until/now"};
    EXPECT_EQ(loadTraceValues("Lunet", values), LoadOutcome::loaded);
    EXPECT_EQ(values, (TraceValues{0, 1, 0, ""}));

    writeValue("Lunet", "fTraceEnabled", REG_DWORD, std::string("\x01\0", 2));  // two bytes only
    values = {0, 0, 0, ""};
    loadTraceValues("Lunet", values);
    EXPECT_EQ(values.enabled, 0);
}

TEST(PivraSettingsLoad, PathsAreReadAsFarAsTheTraceLogReadsThem) {
    TempRegistry registry;
    TraceValues values;
    const std::string longest(kMaxPathBytes, 'p');
    writeText("AMD", "sTraceFile", longest);
    loadTraceValues("AMD", values);
    EXPECT_EQ(values.path, longest);

    writeText("AMD", "sTraceFile", longest + "pp");  // 262 bytes: more than is ever read
    loadTraceValues("AMD", values);
    EXPECT_EQ(values.path, "");

    writeValue("AMD", "sTraceFile", REG_SZ, "/no/zero");  // typed by hand, no terminator
    loadTraceValues("AMD", values);
    EXPECT_EQ(values.path, "/no/zero");

    writeValue("AMD", "sTraceFile", REG_SZ, std::string("/a\0/b\0", 6));
    loadTraceValues("AMD", values);
    EXPECT_EQ(values.path, "/a");
}

TEST(PivraSettingsSave, AllThreeValuesAreWrittenWithTheirTypes) {
    TempRegistry registry;
    writeDword("Intel", "dwTraceType", 7);
    ASSERT_TRUE(saveTraceValues("Intel", {1, 1, 0, "/tmp/intel.log"}));
    EXPECT_EQ(readDword("Intel", "fTraceEnabled"), 1u);
    EXPECT_EQ(readDword("Intel", "dwTraceType"), 2u) << "the debugger bit is cleared";
    EXPECT_EQ(readText("Intel", "sTraceFile"), "/tmp/intel.log");

    ASSERT_TRUE(saveTraceValues("Intel", {0, 0, 1, ""}));
    EXPECT_EQ(readDword("Intel", "fTraceEnabled"), 0u);
    EXPECT_EQ(readDword("Intel", "dwTraceType"), 1u);
    const auto empty = readValue("Intel", "sTraceFile");
    ASSERT_TRUE(empty);
    EXPECT_EQ(empty->type, REG_SZ);
    EXPECT_EQ(empty->bytes, std::string(1, '\0')) << "an empty path is an empty text with its zero";

    ASSERT_TRUE(saveTraceValues("Intel", {2, 1, 1, "/x"}));
    EXPECT_EQ(readDword("Intel", "fTraceEnabled"), 1u);
    EXPECT_EQ(readDword("Intel", "dwTraceType"), 3u);
    EXPECT_EQ(valueCount("Intel"), 3);
}

TEST(PivraSettingsSave, APathTheTraceLogCouldNotReadIsRefusedWhole) {
    TempRegistry registry;
    const std::string longest(kMaxPathBytes, 'q');
    ASSERT_TRUE(saveTraceValues("SST", {1, 0, 1, longest}));
    EXPECT_EQ(readText("SST", "sTraceFile"), longest);

    EXPECT_FALSE(saveTraceValues("SST", {0, 1, 0, longest + "q"}));
    EXPECT_EQ(readDword("SST", "fTraceEnabled"), 1u) << "nothing of a refused save is written";
    EXPECT_EQ(readDword("SST", "dwTraceType"), 1u);
    EXPECT_EQ(readText("SST", "sTraceFile"), longest);

    // Bytes, not characters: 130 two-byte letters are 260 bytes.
    std::string wide;
    for (int i = 0; i < 130; ++i) wide += "\xc3\xa9";
    EXPECT_FALSE(saveTraceValues("SST", {1, 1, 1, wide}));
}

TEST(PivraSettingsContext, OnlyAKeyRightBelowTheDebugKeyIsEverTouched) {
    TempRegistry registry;
    const std::vector<std::string> bad = {"", "Ombra\\Sub", "\\", std::string(256, 'n'), std::string("A\0B", 3)};
    for (const auto& name : bad) {
        TraceValues values{1, 1, 1, "/p"};
        EXPECT_FALSE(isContextName(name));
        EXPECT_EQ(loadTraceValues(name, values), LoadOutcome::failed);
        EXPECT_FALSE(saveTraceValues(name, values));
        EXPECT_EQ(values, (TraceValues{1, 1, 1, "/p"}));
    }
    EXPECT_TRUE(readFile(registry.hiveFile()).empty()) << "no key was created anywhere";
    EXPECT_TRUE(isContextName(std::string(255, 'n')));
    EXPECT_EQ(contextKeyPath("QuaspDbg"), "Software\\Tarvik\\Ombra\\Debug\\QuaspDbg");
}

TEST(PivraSettingsFailure, AHiveThatCannotBeReadIsLeftAloneAndNothingIsTaken) {
    TempRegistry registry;
    const std::string broken = "this is not a registry file\n[\n";
    writeFile(registry.hiveFile(), broken);
    TraceValues values{1, 0, 1, "/kept"};
    EXPECT_EQ(loadTraceValues("Ombra", values), LoadOutcome::failed);
    EXPECT_EQ(values, (TraceValues{1, 0, 1, "/kept"}));
    EXPECT_FALSE(saveTraceValues("Ombra", values));
    EXPECT_EQ(readFile(registry.hiveFile()), broken);
}

TEST(PivraCommandLine, OnlyHelpOrVersionOrNothing) {
    using Args = std::vector<std::string>;
    EXPECT_EQ(parseCommandLine(Args{}), Command::dialog);
    EXPECT_EQ(parseCommandLine(Args{"--help"}), Command::help);
    EXPECT_EQ(parseCommandLine(Args{"-h"}), Command::help);
    EXPECT_EQ(parseCommandLine(Args{"--version"}), Command::version);
    EXPECT_EQ(parseCommandLine(Args{"--help", "--version"}), Command::bad);
    EXPECT_EQ(parseCommandLine(Args{"Wexom"}), Command::bad);
    EXPECT_EQ(parseCommandLine(Args{"--HELP"}), Command::bad);
    EXPECT_NE(usageText().find("Usage: Pivra"), std::string::npos);
    EXPECT_EQ(versionText().rfind("Pivra ", 0), 0u);
}

}  // namespace
}  // namespace ombra::pivra
