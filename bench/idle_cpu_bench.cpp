// The reader's cost while nothing changes: a loopback server holds 50 feeds of 30 items that
// never change (answered with validators); each reader given runs on its own copy of them at
// the one-minute refresh interval, all at the same time, each with its own data and runtime
// folder: a binary of this program runs its real reader window; the name "quiterss" runs
// QuiteRSS (Debian's package) on a private profile made by quiterss_profile.py, updating at
// start-up and every minute. After a warm-up it reads the CPU time of each reader's whole
// process tree (the reader and the browser engine's processes, from /proc/<pid>/stat) and
// prints CPU seconds per minute and the requests its feeds received meanwhile (and how many
// of them carried a validator). BENCH_RUNS=N repeats the whole run N times (fresh starts)
// and prints the medians. Needs an X display (run it inside tests/reader/xvfbsession.sh).
//
// usage: idle_cpu_bench [minutes=3] [warmUpSeconds=45] [reader...=this build's]
// A reader is "quiterss" or a binary of this program with any arguments of its own, in one
// argument ("build/src/app/quorvel --view=web").

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <map>
#include <memory>
#include <vector>

#include <unistd.h>

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>
#include <QThread>

#include "benchsupport.h"
#include "loopbackserver.h"
#include "testfiles.h"

using quorvel::test::LoopbackServer;
using quorvel::test::Response;
namespace bench = quorvel::bench;

namespace {

const int feedCount = 50;

// CPU seconds of pid and every process below it, including their reaped children.
double treeCpuSeconds(qint64 root) {
    std::map<qint64, qint64> parentOf;
    std::map<qint64, double> cpuOf;
    const double ticks = double(sysconf(_SC_CLK_TCK));
    for (const QString& name : QDir("/proc").entryList(QDir::Dirs)) {
        bool isPid = false;
        const qint64 pid = name.toLongLong(&isPid);
        if (!isPid)
            continue;
        QFile stat("/proc/" + name + "/stat");
        if (!stat.open(QIODevice::ReadOnly))
            continue;
        const QByteArray line = stat.readAll();
        // The command name may hold spaces: the fields start after its closing parenthesis.
        const QList<QByteArray> fields = line.mid(line.lastIndexOf(')') + 2).split(' ');
        if (fields.size() < 15)
            continue;
        parentOf[pid] = fields[1].toLongLong();
        cpuOf[pid] = (fields[11].toDouble() + fields[12].toDouble() + fields[13].toDouble() +
                      fields[14].toDouble()) /
                     ticks;
    }
    double total = 0;
    for (const auto& [pid, cpu] : cpuOf) {
        for (qint64 p = pid; p > 1; p = parentOf.count(p) ? parentOf[p] : 0) {
            if (p == root) {
                total += cpu;
                break;
            }
        }
    }
    return total;
}

// Requests for one reader's feeds.
struct RequestCount {
    int all = 0;
    int conditional = 0; // sent with If-None-Match or If-Modified-Since
};

// One reader under measurement: this program (a binary) or QuiteRSS, each with its own data
// folder and its own copy of the feeds on the server (so its requests count apart).
struct Reader {
    QString name;
    QString prefix; // of its feeds' paths on the server
    QTemporaryDir data, runtime;
    std::unique_ptr<QProcess> process;
    double startCpu = 0;
    RequestCount startRequests;
};

const QString quiterss = QStringLiteral("quiterss");

void addFeeds(LoopbackServer& server, const QString& prefix) {
    for (int f = 0; f < feedCount; ++f) {
        Response feed = quorvel::test::served(bench::storyFeed(f, 30));
        feed.etag = "\"" + QByteArray::number(f) + "\"";
        feed.lastModified = "Sun, 06 Dec 2026 10:00:00 GMT";
        server.setRoute(prefix + QStringLiteral("/f%1").arg(f), feed);
    }
}

QStringList feedUrls(const LoopbackServer& server, const QString& prefix) {
    QStringList urls;
    for (int f = 0; f < feedCount; ++f)
        urls << server.url(prefix + QStringLiteral("/f%1").arg(f));
    return urls;
}

RequestCount requestsFor(const LoopbackServer& server, const QString& prefix) {
    RequestCount count;
    const QByteArray start = (prefix + "/").toUtf8();
    for (const quorvel::test::ReceivedRequest& request : server.requests()) {
        if (!request.target.startsWith(start))
            continue;
        ++count.all;
        if (!request.header("If-None-Match").isEmpty() ||
            !request.header("If-Modified-Since").isEmpty())
            ++count.conditional;
    }
    return count;
}

// Starts QuiteRSS on a private profile (made by quiterss_profile.py) holding these feeds,
// updated at start-up and every minute.
bool startQuiteRss(Reader& reader, const QStringList& urls) {
    QProcess maker;
    maker.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    maker.start("python3", QStringList{QStringLiteral(QUORVEL_BENCH_DIR "/quiterss_profile.py"),
                                       reader.data.path()} +
                               urls);
    if (!maker.waitForFinished(120000) || maker.exitCode() != 0)
        return false;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    // Its output is one "export NAME=value" line a variable.
    for (const QByteArray& line : maker.readAllStandardOutput().split('\n')) {
        const int equals = line.indexOf('=');
        if (line.startsWith("export ") && equals > 0)
            env.insert(QString::fromUtf8(line.mid(7, equals - 7)),
                       QString::fromUtf8(line.mid(equals + 1)));
    }
    reader.process->setProcessEnvironment(env);
    reader.process->setProcessChannelMode(QProcess::ForwardedErrorChannel);
    reader.process->setStandardOutputFile(QProcess::nullDevice());
    reader.process->start(quiterss, {});
    return reader.process->waitForStarted(10000);
}

bool startOurs(Reader& reader, const QStringList& urls, const QString& probe) {
    QByteArray feeds;
    for (const QString& url : urls)
        feeds += bench::feedElement(url);
    if (!quorvel::test::writeFile(reader.data.filePath("rss_feeds.xml"),
                                  bench::storeXml(feeds, 60000)))
        return false;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert("XDG_RUNTIME_DIR", reader.runtime.path()); // each its own instance guard
    env.insert("QUORVEL_PROBE_URL", probe);
    env.insert("QTWEBENGINE_CHROMIUM_FLAGS", "--disable-gpu --disable-logging");
    reader.process->setProcessEnvironment(env);
    reader.process->setProcessChannelMode(QProcess::ForwardedChannels);
    QStringList arguments = QProcess::splitCommand(reader.name);
    if (arguments.isEmpty())
        return false;
    const QString program = arguments.takeFirst();
    reader.process->start(program, arguments + QStringList{"--data-dir", reader.data.path()});
    return reader.process->waitForStarted(10000);
}

void stop(QProcess& process) {
    process.terminate();
    if (!process.waitForFinished(10000))
        process.kill();
    process.waitForFinished(5000);
}

double median(std::vector<double> values) {
    std::sort(values.begin(), values.end());
    const std::size_t n = values.size();
    return n % 2 ? values[n / 2] : (values[n / 2 - 1] + values[n / 2]) / 2;
}

} // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    const int minutes = argc > 1 ? std::atoi(argv[1]) : 3;
    const int warmUpSeconds = argc > 2 ? std::atoi(argv[2]) : 45;
    const int runs = std::max(1, qEnvironmentVariableIntValue("BENCH_RUNS"));
    QStringList names;
    for (int i = 3; i < argc; ++i)
        names << QString::fromLocal8Bit(argv[i]);
    if (names.isEmpty())
        names << QStringLiteral(QUORVEL_BINARY);
    if (qEnvironmentVariableIsEmpty("DISPLAY")) {
        std::fprintf(stderr, "idle_cpu_bench needs an X display\n");
        return 1;
    }

    LoopbackServer server;
    server.setRoute("/probe", quorvel::test::served("ok"));
    for (int k = 0; k < names.size(); ++k)
        addFeeds(server, QStringLiteral("/r%1").arg(k));

    std::printf("idle reader: %d unchanged feeds x 30 items, refresh every minute, %d minutes "
                "after %d s warm-up, %d run(s)\n",
                feedCount, minutes, warmUpSeconds, runs);
    std::vector<std::vector<double>> perMinute(names.size());
    for (int run = 1; run <= runs; ++run) {
        std::vector<std::unique_ptr<Reader>> readers;
        for (int k = 0; k < names.size(); ++k) {
            auto reader = std::make_unique<Reader>();
            reader->name = names[k];
            reader->prefix = QStringLiteral("/r%1").arg(k);
            reader->process = std::make_unique<QProcess>();
            const QStringList urls = feedUrls(server, reader->prefix);
            const bool started = reader->name == quiterss
                                     ? startQuiteRss(*reader, urls)
                                     : startOurs(*reader, urls, server.url("/probe"));
            if (!started) {
                std::fprintf(stderr, "cannot start %s\n", qPrintable(reader->name));
                for (auto& other : readers)
                    stop(*other->process);
                return 1;
            }
            readers.push_back(std::move(reader));
        }
        QThread::sleep(warmUpSeconds);
        for (auto& reader : readers) {
            reader->startCpu = treeCpuSeconds(reader->process->processId());
            reader->startRequests = requestsFor(server, reader->prefix);
        }
        QThread::sleep(60 * minutes);

        std::printf("run %d:\n", run);
        for (std::size_t k = 0; k < readers.size(); ++k) {
            Reader& reader = *readers[k];
            const double used = treeCpuSeconds(reader.process->processId()) - reader.startCpu;
            perMinute[k].push_back(used / minutes);
            const RequestCount requests = requestsFor(server, reader.prefix);
            std::printf("  %s: %.3f CPU s per minute, %d requests meanwhile (%d conditional)\n",
                        qPrintable(reader.name), used / minutes,
                        requests.all - reader.startRequests.all,
                        requests.conditional - reader.startRequests.conditional);
            std::fflush(stdout);
        }
        for (auto& reader : readers)
            stop(*reader->process);
    }
    if (runs > 1) {
        std::printf("medians of %d runs:\n", runs);
        for (int k = 0; k < names.size(); ++k)
            std::printf("  %s: %.3f CPU s per minute\n", qPrintable(names[k]),
                        median(perMinute[k]));
    }
    return 0;
}
