// The command line: switches, values, checks and their messages.
#include <gtest/gtest.h>

#include <set>

#include "ombra/frontend/command_line.h"

using namespace ombra::frontend;

namespace {

const std::set<std::string> kPorts = {"/dev/ttyS0", "COM3"};
const std::set<std::string> kFiles = {"/img/a.bin", "/img/my image.bin"};

CommandLine parse(std::string_view line)
{
    CommandLineChecks checks;
    checks.portExists = [](const std::string& p) { return kPorts.count(p) != 0; };
    checks.fileExists = [](const std::string& f) { return kFiles.count(f) != 0; };
    return parseCommandLine(line, checks);
}

}  // namespace

TEST(CommandLine, EverySwitchInBothForms)
{
    for (const char* form : {"-", "/"}) {
        const std::string d = form;
        const CommandLine c = parse(d + "s /dev/ttyS0 " + d + "f /img/a.bin " + d + "l /tmp/r.log " + d + "b 460800 " +
                                    d + "av");
        SCOPED_TRACE(form);
        EXPECT_FALSE(c.message);
        EXPECT_TRUE(c.portGiven);
        EXPECT_EQ(c.portName, "/dev/ttyS0");
        EXPECT_TRUE(c.imageGiven);
        EXPECT_EQ(c.imagePath, "/img/a.bin");
        EXPECT_TRUE(c.logGiven);
        EXPECT_EQ(c.logPath, "/tmp/r.log");
        EXPECT_EQ(c.baud, 460800);
        EXPECT_TRUE(c.unattended);
        EXPECT_TRUE(c.verify);
    }
    const CommandLine a = parse("-av -a");
    EXPECT_TRUE(a.unattended);
    EXPECT_FALSE(a.verify) << "the later switch wins";

    const CommandLine none = parse("");
    EXPECT_FALSE(none.unattended || none.portGiven || none.imageGiven || none.logGiven || none.message);
    EXPECT_EQ(none.baud, -1);
}

TEST(CommandLine, TokensAreExactAndCaseSensitive)
{
    const CommandLine c = parse("-A -AV --a -av2 a -b\t115200 x -s COM3\n-a");
    EXPECT_FALSE(c.message);
    EXPECT_EQ(c.baud, -1) << "a tab does not end a token";
    EXPECT_EQ(c.portName, "COM3");
    EXPECT_TRUE(c.unattended) << "a newline ends a token and a value";
    EXPECT_FALSE(c.verify);

    // A leading blank is an empty first token: nothing is read.
    EXPECT_FALSE(parse(" -a").unattended);
    // Several blanks after a switch are skipped before its value.
    EXPECT_EQ(parse("-b    57600").baud, 57600);
}

TEST(CommandLine, BaudRates)
{
    for (int rate : {19200, 38400, 57600, 115200, 230400, 460800})
        EXPECT_EQ(parse("-b " + std::to_string(rate)).baud, rate);
    for (const char* bad : {"0", "9600", "115200x", "+115200", "abc", "1152000000000"}) {
        const CommandLine c = parse(std::string("-b ") + bad + " -a");
        EXPECT_EQ(c.baud, -1) << bad;
        ASSERT_TRUE(c.message) << bad;
        EXPECT_EQ(*c.message, std::string("Baud rate ") + bad +
                                  " is not supported. Supported baud rates are: 19200, 38400, 57600, 115200, "
                                  "230400, 460800.");
        EXPECT_FALSE(c.unattended) << "parsing stops at the failed check";
    }
    // An empty value ends the parsing without a message.
    const CommandLine empty = parse("-b");
    EXPECT_FALSE(empty.message);
    EXPECT_EQ(empty.baud, -1);
}

TEST(CommandLine, FailedChecksStopWithTheirMessage)
{
    CommandLine c = parse("-b 38400 -s /dev/none -a");
    ASSERT_TRUE(c.message);
    EXPECT_EQ(*c.message, "Serial port /dev/none does not exist.");
    EXPECT_FALSE(c.unattended) << "stops before -a";
    EXPECT_FALSE(c.portGiven);
    EXPECT_EQ(c.baud, 38400) << "what was read before keeps its effect";

    c = parse("-f /img/none.bin -a");
    ASSERT_TRUE(c.message);
    EXPECT_EQ(*c.message, "Illegal image file name :/img/none.bin. ");
    EXPECT_FALSE(c.imageGiven);
    EXPECT_FALSE(c.unattended);

    c = parse("-l \"\" -a");
    ASSERT_TRUE(c.message);
    EXPECT_EQ(*c.message, "Illegal file name .");
    EXPECT_FALSE(c.logGiven);
    EXPECT_FALSE(c.unattended);

    c = parse("-a -f");
    ASSERT_TRUE(c.message);
    EXPECT_EQ(*c.message, "Illegal image file name :. ");
    EXPECT_TRUE(c.unattended);

    // "-s" without a value ends the parsing quietly.
    c = parse("-a -s");
    EXPECT_FALSE(c.message);
    EXPECT_TRUE(c.unattended);
    EXPECT_FALSE(c.portGiven);
}

TEST(CommandLine, QuotedPaths)
{
    CommandLine c = parse("-l \"/tmp/run report.log\" -f \"/img/my image.bin\" -av");
    EXPECT_FALSE(c.message);
    EXPECT_EQ(c.logPath, "/tmp/run report.log");
    EXPECT_EQ(c.imagePath, "/img/my image.bin");
    EXPECT_TRUE(c.unattended);
    EXPECT_TRUE(c.verify);

    // Words inside the quotes are never switches.
    c = parse("-l \"/tmp/x -a y.log\"");
    EXPECT_EQ(c.logPath, "/tmp/x -a y.log");
    EXPECT_FALSE(c.unattended);

    // Without a closing quote the value runs to the end.
    c = parse("-l \"/tmp/open end -a");
    EXPECT_EQ(c.logPath, "/tmp/open end -a");
    EXPECT_FALSE(c.unattended);

    // Quotes are for paths only: a quoted port is looked up as written.
    c = parse("-s \"COM3\"");
    ASSERT_TRUE(c.message);
    EXPECT_EQ(*c.message, "Serial port \"COM3\" does not exist.");
}

TEST(CommandLine, UnquotedValuesAreMetAgainAsTokens)
{
    // The value "-a" of "-l" is then a token of its own, as on the platform.
    const CommandLine c = parse("-l -a");
    EXPECT_EQ(c.logPath, "-a");
    EXPECT_TRUE(c.unattended);
}

TEST(CommandLine, DefaultChecksLookAtTheMachine)
{
    const CommandLine c = parseCommandLine("-f /no/such/image.bin");
    ASSERT_TRUE(c.message);
    EXPECT_EQ(parseCommandLine("-s /dev/null").portName, "/dev/null");
    EXPECT_TRUE(parseCommandLine("-s /no/such/port").message);
    EXPECT_EQ(parseCommandLine("-f /dev/null").imagePath, "/dev/null");
}

TEST(CommandLine, Uninstall)
{
    EXPECT_TRUE(isUninstallCommand("UNINSTALL"));
    EXPECT_FALSE(isUninstallCommand("UNINSTALL x"));
    EXPECT_FALSE(isUninstallCommand("uninstall"));
    EXPECT_FALSE(isUninstallCommand(" UNINSTALL"));
    EXPECT_FALSE(isUninstallCommand(""));
}

TEST(CommandLine, FromArguments)
{
    char prog[] = "/opt/Ombra";
    char a1[] = "-l";
    char a2[] = "/tmp/my log.txt";
    char a3[] = "-av";
    char* argv[] = {prog, a1, a2, a3, nullptr};
    const std::string line = commandLineFromArguments(4, argv);
    EXPECT_EQ(line, "-l \"/tmp/my log.txt\" -av");
    EXPECT_EQ(parse(line).logPath, "/tmp/my log.txt");

    char un[] = "UNINSTALL";
    char* argvU[] = {prog, un, nullptr};
    EXPECT_TRUE(isUninstallCommand(commandLineFromArguments(2, argvU)));
    EXPECT_EQ(commandLineFromArguments(1, argv), "");
    EXPECT_EQ(commandLineFromArguments(0, nullptr), "");
}
