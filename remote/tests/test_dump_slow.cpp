// A receiver that never starts the transfer: every byte that is not a start
// byte, and every byte wait that times out (20,000,000 polls), uses up one
// of 32 waits; then the sender cancels with three CAN. One real time-out
// keeps this test to minutes.
#include <gtest/gtest.h>

#include "remote_fixture.h"

namespace ombra::remote::test {
namespace {

TEST(DumpSlow, ReceiverThatNeverStartsGetsThreeCanAfter32Waits) {
    RemoteBoard b({"SST39LF/VF800A", Family::sst});
    ASSERT_TRUE(b.start(builtinImage(b.family(), Program::dump)));
    auto payload = be32(0);
    const auto c = be32(2048);
    payload.insert(payload.end(), c.begin(), c.end());
    b.link().sendFrame(kDump, payload);
    ASSERT_TRUE(b.expect(kDumpRes));

    const std::vector<std::uint8_t> junk(30, '0');
    b.link().send(junk);
    EXPECT_FALSE(b.link().readByte(2s).has_value()) << "gave up before 32 waits";
    const std::uint8_t one[] = {'0'};
    b.link().send(one);
    // the 32nd wait runs out
    EXPECT_EQ(b.link().readBytes(3, std::chrono::minutes(10)), std::vector<std::uint8_t>(3, 0x18));
    EXPECT_TRUE(b.inRomWithin(10s));
    EXPECT_NE(b.board().debugLog().find("no receiver"), std::string::npos);
}

}  // namespace
}  // namespace ombra::remote::test
