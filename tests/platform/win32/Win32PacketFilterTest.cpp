// The in-line block's calls to the Windows Filtering Platform. Wine exports the calls but keeps no
// filters, so here they are made and their answers read; what the filters do rests on the platform.
#include "platform/PacketFilter.h"

#include <gtest/gtest.h>

TEST(Win32PacketFilter, TheCallsAreMadeAndWhatThePlatformRefusesIsReportedWithItsCode) {
    PacketFilter& filter = systemPacketFilter();
    const Result refused = filter.Refuse({2525, 8081});
    const std::optional<std::vector<uint16_t>> inForce = filter.InForce();
    if (refused) {
        ASSERT_TRUE(inForce) << "rules the platform took can be read back";
        EXPECT_EQ(*inForce, (std::vector<uint16_t>{2525, 8081}));
    } else {
        EXPECT_EQ(refused.reason().rfind("the Windows Filtering Platform ", 0), 0u) << refused.reason();
        EXPECT_NE(refused.reason().find("(error 0x"), std::string::npos) << refused.reason();
        EXPECT_NE(refused.code(), 0);
    }
    RecordProperty("refuse", refused ? "done" : refused.reason());
    const Result lifted = filter.Refuse({});
    RecordProperty("lift", lifted ? "done" : lifted.reason());
    if (lifted) {
        EXPECT_EQ(filter.InForce().value_or(std::vector<uint16_t>{}), std::vector<uint16_t>{});
    }
}
