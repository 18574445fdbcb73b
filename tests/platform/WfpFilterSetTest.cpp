// The Windows build's in-line block as data: which filters it asks the platform for.
#include "platform/WfpFilterSet.h"

#include <gtest/gtest.h>

#include <set>

using namespace WfpFilterSet;

TEST(WfpFilterSet, EveryLayerProtocolAndEndBlocksTheClosedPortsPersistentlyAndNothingElse) {
    const std::vector<Filter> filters = Filters({25, 8081});
    ASSERT_EQ(filters.size(), 16u) << "4 layers x TCP and UDP x local and remote port";
    std::set<std::tuple<Layer, uint16_t, Field>> seen;
    for (const Filter& filter : filters) {
        EXPECT_TRUE(filter.block) << filter.name;
        EXPECT_TRUE(filter.persistent) << filter.name << ": a killed program must leave it in force";
        EXPECT_EQ(filter.weight, 15) << filter.name;
        ASSERT_EQ(filter.conditions.size(), 3u) << filter.name;
        EXPECT_EQ(filter.conditions[0].field, Field::IpProtocol);
        const Field end = filter.conditions[1].field;
        EXPECT_NE(end, Field::IpProtocol);
        EXPECT_EQ(filter.conditions[1], (Condition{end, 25})) << "the same field twice: either port matches";
        EXPECT_EQ(filter.conditions[2], (Condition{end, 8081}));
        seen.insert({filter.layer, filter.conditions[0].value, end});
    }
    EXPECT_EQ(seen.size(), 16u) << "no filter twice";
    EXPECT_EQ(PortsOf(filters), (std::vector<uint16_t>{25, 8081}));
    EXPECT_TRUE(Filters({}).empty()) << "no ports, no filters: the sublayer is lifted";
}
