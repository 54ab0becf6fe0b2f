// A receiver that never starts: the sender gives up after 32 waits of
// 20,000,000 polls each.
#include <gtest/gtest.h>

#include "remote_fixture.h"

namespace ombra::remote::test {
namespace {

TEST(DumpSlow, ReceiverThatNeverStartsGetsThreeCan) {
    RemoteBoard b({"SST39LF/VF800A", Family::sst});
    ASSERT_TRUE(b.start(builtinImage(b.family(), Program::dump)));
    auto payload = be32(0);
    const auto c = be32(2048);
    payload.insert(payload.end(), c.begin(), c.end());
    b.link().sendFrame(kDump, payload);
    ASSERT_TRUE(b.expect(kDumpRes));
    EXPECT_EQ(b.link().readBytes(3, std::chrono::minutes(20)), std::vector<std::uint8_t>(3, 0x18));
    EXPECT_TRUE(b.inRomWithin(10s));
    EXPECT_NE(b.board().debugLog().find("no receiver"), std::string::npos);
}

}  // namespace
}  // namespace ombra::remote::test
