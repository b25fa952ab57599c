// Times `quorvel --refresh` over a store whose feeds all fail at once (a loopback port that
// refuses connections): the cost of the bad-feed log per failed feed. Runs the binaries
// given after the counts in turn, so their medians are measured side by side.
//
// usage: deadfeeds_bench [feeds=5000] [runs=5] [other quorvel binaries...]

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <vector>

#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>

#include "loopbackserver.h"
#include "testfiles.h"

using quorvel::test::LoopbackServer;
using quorvel::test::served;

namespace {

// One refresh in folder; its wall time in seconds, or a negative number when it failed.
double timeRefresh(const QString& binary, const QString& folder, const QString& probe) {
    QProcess process;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    for (const char* name : {"DISPLAY", "WAYLAND_DISPLAY", "QT_QPA_PLATFORM"})
        env.remove(name);
    env.insert("QUORVEL_PROBE_URL", probe);
    process.setProcessEnvironment(env);
    process.setStandardOutputFile(QProcess::nullDevice());
    process.setStandardErrorFile(QProcess::nullDevice());
    QFile::remove(folder + "/error.log"); // every run starts from the same log
    QElapsedTimer timer;
    timer.start();
    process.start(binary, {"--refresh", "--data-dir", folder});
    if (!process.waitForFinished(600000) || process.exitCode() != 0)
        return -1;
    return timer.nsecsElapsed() / 1e9;
}

} // namespace

int main(int argc, char** argv) {
    const int feeds = argc > 1 ? std::atoi(argv[1]) : 5000;
    const int runs = argc > 2 ? std::atoi(argv[2]) : 5;
    QStringList binaries{QStringLiteral(QUORVEL_BINARY)};
    for (int i = 3; i < argc; ++i)
        binaries << QString::fromLocal8Bit(argv[i]);

    LoopbackServer server;
    server.setRoute("/probe", served("up"));
    QByteArray store = "<root>";
    for (int f = 0; f < feeds; ++f)
        store += "<feed url='http://127.0.0.1:1/dead/" + QByteArray::number(f) + "'/>";
    store += "</root>";

    std::vector<QTemporaryDir> folders(std::size_t(binaries.size()));
    std::vector<std::vector<double>> times(std::size_t(binaries.size()));
    for (qsizetype b = 0; b < binaries.size(); ++b) {
        const QString folder = folders[std::size_t(b)].path();
        if (!quorvel::test::writeFile(folder + "/rss_feeds.xml", store))
            return 1;
        // Completes the store's settings once, so every timed run does the same work.
        timeRefresh(binaries[b], folder, server.url("/probe"));
    }
    for (int r = 0; r < runs; ++r) {
        for (qsizetype b = 0; b < binaries.size(); ++b) {
            const double seconds =
                timeRefresh(binaries[b], folders[std::size_t(b)].path(), server.url("/probe"));
            if (seconds < 0) {
                std::fprintf(stderr, "%s: the refresh failed\n", qPrintable(binaries[b]));
                return 1;
            }
            times[std::size_t(b)].push_back(seconds);
        }
    }
    std::printf("dead feeds=%d runs=%d (refused port on 127.0.0.1)\n", feeds, runs);
    for (qsizetype b = 0; b < binaries.size(); ++b) {
        std::vector<double>& t = times[std::size_t(b)];
        std::sort(t.begin(), t.end());
        std::printf("wall_s: median %.3f min %.3f max %.3f  %s\n", t[t.size() / 2], t.front(),
                    t.back(), qPrintable(binaries[b]));
    }
    return 0;
}
