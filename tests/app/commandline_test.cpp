#include <gtest/gtest.h>

#include "app/commandline.h"

namespace quorvel {
namespace {

TEST(CommandLineValues, ComeAsTheNextArgumentOrAfterAnEqualsSign) {
    const struct {
        QStringList arguments;
        QString dataDir, importOpml, exportOpml, view;
        bool refresh = false;
    } cases[] = {
        {{"--data-dir=/tmp/x"}, "/tmp/x"},
        {{"--refresh", "--data-dir", "/tmp/x"}, "/tmp/x", "", "", "", true},
        {{"--data-dir=/tmp/a=b"}, "/tmp/a=b"},
        {{"--data-dir", "=x"}, "=x"},
        {{"--import-opml=feeds.opml", "--data-dir=d"}, "d", "feeds.opml"},
        {{"--export-opml=-", "--refresh"}, "", "", "-", "", true},
        {{"--view=web"}, "", "", "", "web"},
        {{"--view", "light"}, "", "", "", "light"},
    };
    for (const auto& c : cases) {
        const CommandLine line = parseCommandLine(c.arguments);
        const std::string given = c.arguments.join(' ').toStdString();
        EXPECT_EQ(line.error, QString()) << given;
        EXPECT_EQ(line.dataDir, c.dataDir) << given;
        EXPECT_EQ(line.importOpml, c.importOpml) << given;
        EXPECT_EQ(line.exportOpml, c.exportOpml) << given;
        EXPECT_EQ(line.view, c.view) << given;
        EXPECT_EQ(line.refresh, c.refresh) << given;
    }
    for (const QStringList& bad :
         {QStringList{"--data-dir="}, QStringList{"--data-dir"}, QStringList{"--data-dirx=/tmp"},
          QStringList{"--import-opml"}, QStringList{"--export-opml", ""},
          QStringList{"--refresh=yes"}, QStringList{"--view=bright"}, QStringList{"--view"}})
        EXPECT_NE(parseCommandLine(bad).error, QString()) << bad.join(' ').toStdString();
}

} // namespace
} // namespace quorvel
