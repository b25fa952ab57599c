#include <gtest/gtest.h>

#include <QDir>
#include <QProcess>
#include <QTemporaryDir>

#include "app/commandline.h"

namespace quorvel {
namespace {

TEST(CommandLineValues, ComeAsTheNextArgumentOrAfterAnEqualsSign) {
    const struct {
        QStringList arguments;
        QString dataDir, importOpml, exportOpml;
    } cases[] = {
        {{"--data-dir=/tmp/x"}, "/tmp/x", "", ""},
        {{"--data-dir", "/tmp/x"}, "/tmp/x", "", ""},
        {{"--data-dir=/tmp/a=b"}, "/tmp/a=b", "", ""},
        {{"--data-dir", "=x"}, "=x", "", ""},
        {{"--import-opml=feeds.opml", "--data-dir=d"}, "d", "feeds.opml", ""},
        {{"--export-opml=-", "--refresh"}, "", "", "-"},
    };
    for (const auto& c : cases) {
        const CommandLine line = parseCommandLine(c.arguments);
        const std::string given = c.arguments.join(' ').toStdString();
        EXPECT_EQ(line.error, QString()) << given;
        EXPECT_EQ(line.dataDir, c.dataDir) << given;
        EXPECT_EQ(line.importOpml, c.importOpml) << given;
        EXPECT_EQ(line.exportOpml, c.exportOpml) << given;
    }
    for (const QStringList& bad : {QStringList{"--data-dir="}, QStringList{"--data-dir"},
                                   QStringList{"--data-dirx=/tmp"}, QStringList{"--import-opml"},
                                   QStringList{"--export-opml", ""}, QStringList{"--refresh=yes"}})
        EXPECT_NE(parseCommandLine(bad).error, QString()) << bad.join(' ').toStdString();
}

TEST(CommandLineValues, TheProgramKeepsItsFilesInTheFolderGivenWithAnEqualsSign) {
    QTemporaryDir dir;
    QProcess process;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert("QUORVEL_PROBE_URL", "http://127.0.0.1:1/"); // offline: nothing is fetched
    process.setProcessEnvironment(env);
    process.setWorkingDirectory(dir.path());
    process.start(QUORVEL_BINARY, {"--refresh", "--data-dir=" + dir.filePath("data")});
    ASSERT_TRUE(process.waitForFinished(60000));
    EXPECT_EQ(process.exitCode(), 0) << process.readAllStandardError().toStdString();
    EXPECT_TRUE(QFile::exists(dir.filePath("data/rss_feeds.xml")));
    EXPECT_EQ(QDir(dir.path()).entryList(QDir::AllEntries | QDir::NoDotAndDotDot),
              QStringList{"data"});
}

} // namespace
} // namespace quorvel
