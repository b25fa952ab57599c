#pragma once

#include <array>

#include <QString>

namespace quorvel {

// The intervals the "Refresh" submenu offers, in minutes; item i (1..8) offers entry i-1.
// Item 0 is the never-shown "holder".
inline constexpr std::array<int, 8> intervalItemMinutes{1, 2, 5, 10, 20, 30, 60, 120};
inline constexpr int intervalItemCount = static_cast<int>(intervalItemMinutes.size());

// The interval of item 1..8 in milliseconds (its minutes times 60000); 0 for any other index.
int intervalItemMs(int item);

// The item 1..8 whose interval equals the setting read as a number of milliseconds
// ("300000" and "3e5" both give item 3), or 0 when none does or the text is not a number.
int intervalItemForSetting(const QString& refreshText);

} // namespace quorvel
