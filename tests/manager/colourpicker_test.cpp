#include <optional>

#include <QColor>
#include <gtest/gtest.h>

#include "manager/colourpicker.h"

namespace quorvel {
namespace {

TEST(ColourConversions, WorkedValues) {
    EXPECT_EQ(hexToColour("0000FF"), 0xFF0000u); // blue: the number reads blue first
    EXPECT_EQ(colourToHex(16711680), "0000FF");
    EXPECT_EQ(colourToHex(255), "FF0000"); // red, padded in front to 0000FF
    EXPECT_EQ(colourToHex(0), "000000");
    EXPECT_EQ(hexToColour("12AB9c"), 0x9CAB12u);
    // Short texts are padded at the end: FFF reads as FFF000, a yellow.
    EXPECT_EQ(hexToColour("FFF"), 0x00F0FFu);
    EXPECT_EQ(hexToColour("FF"), 255u);
    bool ok = true;
    EXPECT_EQ(hexToColour("red", &ok), 0u);
    EXPECT_FALSE(ok);
}

// A chooser that remembers the preset it was opened with and answers a fixed colour.
struct FakeChooser {
    std::optional<QColor> answer;
    std::optional<std::optional<QColor>> seenPreset;
    ColourChooser function() {
        return [this](const std::optional<QColor>& preset, QWidget*) {
            seenPreset = preset;
            return answer;
        };
    }
};

TEST(PickColour, CancelLeavesTheBoxAsItWas) {
    FakeChooser chooser;
    EXPECT_EQ(pickColour("#ff00aa", chooser.function()), "#FF00AA");
    EXPECT_EQ(pickColour("", chooser.function()), "");
    for (const char* notAColour : {"#FFF", "red", "#0000FF0"}) {
        EXPECT_EQ(pickColour(notAColour, chooser.function()), notAColour);
        ASSERT_TRUE(chooser.seenPreset);
        EXPECT_FALSE(*chooser.seenPreset) << notAColour;
    }
}

} // namespace
} // namespace quorvel
