#include <optional>

#include <QColor>
#include <gtest/gtest.h>

#include "manager/colourpicker.h"

namespace quorvel {
namespace {

TEST(ColourPicker, ConvertsBlueFirstNumbersAndACancelLeavesTheBoxAsItWas) {
    EXPECT_EQ(hexToColour("0000FF"), 0xFF0000u); // blue: the number reads blue first
    EXPECT_EQ(colourToHex(255), "FF0000");       // red, padded in front to 0000FF
    EXPECT_EQ(hexToColour("12AB9c"), 0x9CAB12u);
    EXPECT_EQ(hexToColour("FFF"), 0x00F0FFu); // padded at the end: FFF000, a yellow
    bool ok = true;
    EXPECT_EQ(hexToColour("red", &ok), 0u);
    EXPECT_FALSE(ok);

    std::optional<std::optional<QColor>> seenPreset;
    const ColourChooser cancel = [&](const std::optional<QColor>& preset, QWidget*) {
        seenPreset = preset;
        return std::optional<QColor>();
    };
    EXPECT_EQ(pickColour("#ff00aa", cancel), "#FF00AA");
    EXPECT_EQ(**seenPreset, QColor(0xff, 0x00, 0xaa));
    EXPECT_EQ(pickColour("", cancel), "");
    for (const char* notAColour : {"#FFF", "red", "#0000FF0"}) {
        EXPECT_EQ(pickColour(notAColour, cancel), notAColour);
        EXPECT_FALSE(*seenPreset) << notAColour; // the dialog opens without a preset
    }
}

} // namespace
} // namespace quorvel
