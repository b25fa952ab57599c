#include "refreshintervals.h"

namespace quorvel {

int intervalItemMs(int item) {
    if (item < 1 || item > intervalItemCount)
        return 0;
    return intervalItemMinutes[static_cast<std::size_t>(item - 1)] * 60000;
}

int intervalItemForSetting(const QString& refreshText) {
    // Compared as floating-point numbers, so "60000.0" marks the one-minute item as well.
    bool ok = false;
    const double setting = refreshText.trimmed().toDouble(&ok);
    if (!ok)
        return 0;
    for (int item = 1; item <= intervalItemCount; ++item) {
        if (static_cast<double>(intervalItemMs(item)) == setting)
            return item;
    }
    return 0;
}

} // namespace quorvel
