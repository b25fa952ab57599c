#include <gtest/gtest.h>

#include "reader/refreshintervals.h"

namespace quorvel {
namespace {

TEST(RefreshIntervalsTest, ItemsOfferTheirMinutesInMilliseconds) {
    EXPECT_EQ(intervalItemMs(1), 60000);
    EXPECT_EQ(intervalItemMs(3), 300000);
    EXPECT_EQ(intervalItemMs(8), 7200000);
    EXPECT_EQ(intervalItemMs(0), 0) << "the holder offers no interval";
    EXPECT_EQ(intervalItemMs(9), 0);
}

TEST(RefreshIntervalsTest, TheSettingMarksTheItemWithTheSameInterval) {
    EXPECT_EQ(intervalItemForSetting("60000"), 1);
    EXPECT_EQ(intervalItemForSetting("300000"), 3);
    EXPECT_EQ(intervalItemForSetting("1800000"), 6);
    EXPECT_EQ(intervalItemForSetting("7200000"), 8);
}

TEST(RefreshIntervalsTest, TheSettingIsComparedAsANumber) {
    EXPECT_EQ(intervalItemForSetting(" 120000 "), 2);
    EXPECT_EQ(intervalItemForSetting("60000.0"), 1);
    EXPECT_EQ(intervalItemForSetting("6e4"), 1);
}

TEST(RefreshIntervalsTest, AnIntervalNoItemOffersMarksNone) {
    EXPECT_EQ(intervalItemForSetting("90000"), 0);   // one and a half minutes
    EXPECT_EQ(intervalItemForSetting("2700000"), 0); // 45 minutes typed in the manager
    EXPECT_EQ(intervalItemForSetting(""), 0);
    EXPECT_EQ(intervalItemForSetting("soon"), 0);
    EXPECT_EQ(intervalItemForSetting("60"), 0) << "minutes are not milliseconds";
}

} // namespace
} // namespace quorvel
