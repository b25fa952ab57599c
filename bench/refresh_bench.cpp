// Serves N synthetic RSS 2.0 feeds of M items from loopback servers on 127.0.0.1..10, each
// request delayed by L ms and answered with validators (ETag, Last-Modified) as most feed
// servers do, and times `quorvel --refresh` over them: wall time, the CPU time (user and
// system) and peak resident memory of the refresh process and the bytes the servers sent,
// median of R runs. Each run is a
// pair: a first cycle with an empty feed cache, then a second one when nothing changed.
// With the kind "empty", every feed is instead 16 MiB of empty <item/> elements, sent
// gzip-compressed (about 40 KB), of which the page lists M: the memory a refresh needs for
// feeds far larger than it shows.
//
// usage: refresh_bench [feeds=200] [items=30] [delayMs=100] [runs=5] [kind=stories|empty]
//                      [binary=this build's]
// A binary named newsboat is run as `newsboat -x reload` over the same feeds with 8 reload
// threads (its cache file plays the part of the feed cache), for comparison.

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <vector>

#include <fcntl.h>
#include <spawn.h>
#include <sys/resource.h>
#include <sys/wait.h>

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <zlib.h>

#include "loopbackserver.h"
#include "testfiles.h"

extern char** environ;

using quorvel::test::LoopbackServer;
using quorvel::test::served;

namespace {

QByteArray syntheticFeed(int feed, int items) {
    QByteArray xml = "<?xml version=\"1.0\" encoding=\"UTF-8\"?><rss version=\"2.0\"><channel>";
    xml += "<title>Feed " + QByteArray::number(feed) + "</title><link>http://example.org/</link>";
    xml += "<lastBuildDate>Sun, 06 Dec 2026 10:00:00 GMT</lastBuildDate>";
    for (int i = 0; i < items; ++i) {
        xml +=
            "<item><title>Story " + QByteArray::number(i) + " of feed " + QByteArray::number(feed) +
            "</title><link>http://example.org/" + QByteArray::number(feed) + "/" +
            QByteArray::number(i) +
            "</link><pubDate>Sun, 06 Dec 2026 09:" + QByteArray::number(10 + i % 50) +
            ":00 GMT</pubDate><description>&lt;p&gt;A short summary with &lt;b&gt;bold&lt;/b&gt; "
            "text and a &lt;a href=\"http://example.org/more\"&gt;link&lt;/a&gt;.&lt;/p&gt;"
            "</description></item>";
    }
    return xml + "</channel></rss>";
}

// The data as a gzip member. The bench keeps bodies compressed: its own memory counts in the
// figure (the refresh starts as a copy of the bench's process, and Linux carries that copy's
// peak into the refresh's ru_maxrss), so it must stay small.
QByteArray gzipped(const QByteArray& data) {
    z_stream stream{};
    deflateInit2(&stream, 9, Z_DEFLATED, 15 + 16, 9, Z_DEFAULT_STRATEGY);
    QByteArray out(int(deflateBound(&stream, uLong(data.size()))), Qt::Uninitialized);
    stream.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(data.constData()));
    stream.avail_in = uInt(data.size());
    stream.next_out = reinterpret_cast<Bytef*>(out.data());
    stream.avail_out = uInt(out.size());
    deflate(&stream, Z_FINISH);
    out.truncate(qsizetype(stream.total_out));
    deflateEnd(&stream);
    return out;
}

// 16 MiB (the fetcher's cap) of one channel of empty items.
QByteArray emptyItemsFeed(int feed) {
    const QByteArray head = "<?xml version=\"1.0\" encoding=\"UTF-8\"?><rss version=\"2.0\"><channel>"
                            "<title>Empty " + QByteArray::number(feed) + "</title>";
    const QByteArray tail = "</channel></rss>";
    const qsizetype room = 16 * 1024 * 1024 - head.size() - tail.size();
    return head + QByteArray("<item/>").repeated(room / 7) + tail;
}

struct Sample {
    double seconds;
    double cpuSeconds;
    long peakKiB;
    int status;
};

QByteArray binary = QUORVEL_BINARY;

bool isNewsboat() {
    return binary.endsWith("/newsboat") || binary == "newsboat";
}

Sample runRefresh(const QString& folder, const QString& probe) {
    const QByteArray dir = QFile::encodeName(folder);
    const QByteArray probeVar = "QUORVEL_PROBE_URL=" + probe.toUtf8();
    std::vector<char*> env;
    for (char** e = environ; *e; ++e)
        if (strncmp(*e, "DISPLAY=", 8) && strncmp(*e, "WAYLAND_DISPLAY=", 16) &&
            strncmp(*e, "QUORVEL_PROBE_URL=", 18))
            env.push_back(*e);
    env.push_back(const_cast<char*>(probeVar.constData()));
    env.push_back(nullptr);
    const QByteArray urls = dir + "/urls", config = dir + "/config", cache = dir + "/cache/db";
    char* quorvel[] = {const_cast<char*>(binary.constData()), const_cast<char*>("--refresh"),
                       const_cast<char*>("--data-dir"), const_cast<char*>(dir.constData()),
                       nullptr};
    char* newsboat[] = {const_cast<char*>(binary.constData()), const_cast<char*>("-x"),
                        const_cast<char*>("reload"),           const_cast<char*>("-u"),
                        const_cast<char*>(urls.constData()),   const_cast<char*>("-C"),
                        const_cast<char*>(config.constData()), const_cast<char*>("-c"),
                        const_cast<char*>(cache.constData()),  nullptr};
    char** argv = isNewsboat() ? newsboat : quorvel;
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
    posix_spawn_file_actions_addopen(&actions, 2, "/dev/null", O_WRONLY, 0);
    const auto start = std::chrono::steady_clock::now();
    pid_t pid = 0;
    if (posix_spawn(&pid, binary.constData(), &actions, nullptr, argv, env.data()) != 0) {
        std::perror("posix_spawn");
        std::exit(1);
    }
    int status = 0;
    rusage usage{};
    wait4(pid, &status, 0, &usage);
    const double seconds =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    posix_spawn_file_actions_destroy(&actions);
    const auto secondsOf = [](const timeval& time) { return time.tv_sec + time.tv_usec / 1e6; };
    return Sample{seconds, secondsOf(usage.ru_utime) + secondsOf(usage.ru_stime), usage.ru_maxrss,
                  WIFEXITED(status) ? WEXITSTATUS(status) : -1};
}

} // namespace

int main(int argc, char** argv) {
    const int feeds = argc > 1 ? std::atoi(argv[1]) : 200;
    const int items = argc > 2 ? std::atoi(argv[2]) : 30;
    const int delayMs = argc > 3 ? std::atoi(argv[3]) : 100;
    const int runs = argc > 4 ? std::atoi(argv[4]) : 5;
    const bool empty = argc > 5 && std::strcmp(argv[5], "empty") == 0;
    if (argc > 6)
        binary = argv[6];

    std::vector<std::unique_ptr<LoopbackServer>> servers;
    for (int a = 1; a <= 10; ++a)
        servers.push_back(std::make_unique<LoopbackServer>(QStringLiteral("127.0.0.%1").arg(a)));
    servers[0]->setRoute("/probe", served("up"));

    QTemporaryDir dir;
    QByteArray store = "<root>";
    for (int f = 0; f < feeds; ++f) {
        LoopbackServer& server = *servers[f % servers.size()];
        const QString path = QStringLiteral("/feed%1.xml").arg(f);
        quorvel::test::Response feed = served(syntheticFeed(f, items), delayMs);
        if (empty) {
            feed.body = gzipped(emptyItemsFeed(f));
            feed.headers = {{"Content-Encoding", "gzip"}};
        }
        feed.etag = "\"" + QByteArray::number(f) + "-1\"";
        feed.lastModified = "Sun, 06 Dec 2026 10:00:00 GMT";
        server.setRoute(path, feed);
        store += "<feed url='" + server.url(path).toUtf8() + "' num='" + QByteArray::number(items) +
                 "' headers='false' disabled='false'/>";
    }
    store += "</root>";
    QFile file(dir.path() + "/rss_feeds.xml");
    if (!file.open(QIODevice::WriteOnly))
        return 1;
    file.write(store);
    file.close();
    QByteArray urls;
    for (int f = 0; f < feeds; ++f)
        urls += servers[std::size_t(f) % servers.size()]
                    ->url(QStringLiteral("/feed%1.xml").arg(f))
                    .toUtf8() +
                '\n';
    quorvel::test::writeFile(dir.path() + "/urls", urls);
    quorvel::test::writeFile(dir.path() + "/config", "reload-threads 8\n");
    QDir(dir.path()).mkdir("cache");
    // Complete the store's settings once, so every timed run does the same work.
    runRefresh(dir.path(), servers[0]->url("/probe"));

    auto bytesSent = [&] {
        qint64 total = 0;
        for (const auto& server : servers)
            total += server->bytesSent();
        return total;
    };
    struct Series {
        std::vector<double> walls;
        std::vector<double> cpus;
        std::vector<long> peaks;
        std::vector<qint64> bytes;
    } first, second;
    for (int r = 0; r < runs; ++r) {
        for (Series* series : {&first, &second}) {
            // The cache is moved aside, not deleted: on ext4 creating thousands of files
            // within minutes of deleting thousands is slow (the kernel passes over recently
            // freed inodes), which a first run of the program never meets.
            if (series == &first) {
                QDir(dir.path()).rename("cache", QStringLiteral("old-cache-%1").arg(r));
                if (isNewsboat())
                    QDir(dir.path()).mkdir("cache");
            }
            const qint64 before = bytesSent();
            const Sample sample = runRefresh(dir.path(), servers[0]->url("/probe"));
            if (sample.status != 0) {
                std::fprintf(stderr, "refresh failed with status %d\n", sample.status);
                return 1;
            }
            series->walls.push_back(sample.seconds);
            series->cpus.push_back(sample.cpuSeconds);
            series->peaks.push_back(sample.peakKiB);
            series->bytes.push_back(bytesSent() - before);
            int connections = 0;
            for (const auto& server : servers)
                connections += server->connectionsAccepted();
            std::fprintf(stderr, "run %d: %.3f s, %d connections so far\n", r, sample.seconds,
                         connections);
        }
    }
    std::printf("feeds=%d items=%d delay_ms=%d runs=%d kind=%s\n", feeds, items, delayMs, runs,
                empty ? "empty" : "stories");
    for (Series* series : {&first, &second}) {
        std::sort(series->walls.begin(), series->walls.end());
        std::sort(series->cpus.begin(), series->cpus.end());
        std::sort(series->peaks.begin(), series->peaks.end());
        std::sort(series->bytes.begin(), series->bytes.end());
        const char* name =
            series == &first ? "first cycle (empty cache)" : "second cycle (nothing changed)";
        std::printf("%s:\n", name);
        std::printf("  wall_s: median %.3f min %.3f max %.3f\n",
                    series->walls[series->walls.size() / 2], series->walls.front(),
                    series->walls.back());
        std::printf("  cpu_s: median %.3f\n", series->cpus[series->cpus.size() / 2]);
        std::printf("  peak_rss_mb: median %.1f max %.1f\n",
                    series->peaks[series->peaks.size() / 2] / 1024.0,
                    series->peaks.back() / 1024.0);
        std::printf("  bytes_sent: median %lld\n",
                    static_cast<long long>(series->bytes[series->bytes.size() / 2]));
    }
    QFile page(dir.path() + "/feeds.htm");
    std::printf("page_bytes: %lld\n", static_cast<long long>(page.size()));
    return 0;
}
