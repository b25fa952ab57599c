// The reader's cost while nothing changes: a loopback server holds 50 feeds of 30 items that
// never change (answered with validators); each binary given runs the real reader window
// on them at the one-minute refresh interval, all at the same time, each with its own data
// and runtime folder. After a warm-up it reads the CPU time of each reader's whole process
// tree (the reader and the browser engine's processes, from /proc/<pid>/stat) and prints
// CPU seconds per minute. Needs an X display (run it inside tests/reader/xvfbsession.sh).
//
// usage: idle_cpu_bench [minutes=3] [warmUpSeconds=45] [binary...=this build's]

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

#include "loopbackserver.h"
#include "testfiles.h"

using quorvel::test::LoopbackServer;
using quorvel::test::Response;

namespace {

QByteArray feedXml(int feed, int items) {
    QByteArray xml = "<rss version=\"2.0\"><channel><title>Feed " + QByteArray::number(feed) +
                     "</title><link>http://example.org/</link>";
    for (int i = 0; i < items; ++i)
        xml += "<item><title>Story " + QByteArray::number(i) + "</title><link>http://example.org/" +
               QByteArray::number(i) +
               "</link><description>&lt;p&gt;A summary with "
               "&lt;b&gt;bold&lt;/b&gt; text.&lt;/p&gt;</description></item>";
    return xml + "</channel></rss>";
}

QByteArray storeXml(const QByteArray& feeds) {
    return "<root heading='font-family:arial;font-size:12;color:#000000;font-weight:bold;"
           "font-style:normal;' body='font-family:arial;font-size:11;color:#000000;"
           "font-weight:normal;font-style:normal;background-color:#FFFFFF' link='font-family:"
           "arial;font-size:11;color:#0000FF;font-weight:bold;font-style:normal;' hover='color:"
           "#FF0000;font-weight:bold;font-style:normal;' visited='color:#FF0000;font-weight:bold;"
           "font-style:normal;' bDate='font-family:arial;font-size:11;color:#000000;font-weight:"
           "normal;font-style:italic' magnetic='false' refresh='60000' min='false' trans='255' "
           "quorvelVersion='1_6_0_0'>" +
           feeds + "</root>";
}

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

struct Reader {
    QString binary;
    QTemporaryDir data, runtime;
    std::unique_ptr<QProcess> process;
    double startCpu = 0;
};

} // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    const int minutes = argc > 1 ? std::atoi(argv[1]) : 3;
    const int warmUpSeconds = argc > 2 ? std::atoi(argv[2]) : 45;
    QStringList binaries;
    for (int i = 3; i < argc; ++i)
        binaries << QString::fromLocal8Bit(argv[i]);
    if (binaries.isEmpty())
        binaries << QStringLiteral(QUORVEL_BINARY);
    if (qEnvironmentVariableIsEmpty("DISPLAY")) {
        std::fprintf(stderr, "idle_cpu_bench needs an X display\n");
        return 1;
    }

    LoopbackServer server;
    server.setRoute("/probe", quorvel::test::served("ok"));
    QByteArray feeds;
    for (int f = 0; f < 50; ++f) {
        Response feed = quorvel::test::served(feedXml(f, 30));
        feed.etag = "\"" + QByteArray::number(f) + "\"";
        feed.lastModified = "Sun, 06 Dec 2026 10:00:00 GMT";
        const QString path = QStringLiteral("/f%1").arg(f);
        server.setRoute(path, feed);
        feeds += "<feed url='" + server.url(path).toUtf8() +
                 "' num='10' headers='false' disabled='false'/>";
    }

    std::vector<std::unique_ptr<Reader>> readers;
    for (const QString& binary : binaries) {
        auto reader = std::make_unique<Reader>();
        reader->binary = binary;
        if (!quorvel::test::writeFile(reader->data.filePath("rss_feeds.xml"), storeXml(feeds)))
            return 1;
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert("XDG_RUNTIME_DIR", reader->runtime.path()); // each its own instance guard
        env.insert("QUORVEL_PROBE_URL", server.url("/probe"));
        env.insert("QTWEBENGINE_CHROMIUM_FLAGS", "--disable-gpu --disable-logging");
        reader->process = std::make_unique<QProcess>();
        reader->process->setProcessEnvironment(env);
        reader->process->setProcessChannelMode(QProcess::ForwardedChannels);
        reader->process->start(binary, {"--data-dir", reader->data.path()});
        if (!reader->process->waitForStarted(10000)) {
            std::fprintf(stderr, "cannot start %s\n", qPrintable(binary));
            return 1;
        }
        readers.push_back(std::move(reader));
    }
    QThread::sleep(warmUpSeconds);
    for (auto& reader : readers)
        reader->startCpu = treeCpuSeconds(reader->process->processId());
    const int requestsBefore = server.totalRequests();
    QThread::sleep(60 * minutes);

    std::printf("idle reader: 50 unchanged feeds x 30 items, refresh every minute, %d minutes "
                "after %d s warm-up; %d requests meanwhile\n",
                minutes, warmUpSeconds, server.totalRequests() - requestsBefore);
    for (auto& reader : readers) {
        const double used = treeCpuSeconds(reader->process->processId()) - reader->startCpu;
        std::printf("  %s: %.3f CPU s per minute\n", qPrintable(reader->binary), used / minutes);
        reader->process->terminate();
        if (!reader->process->waitForFinished(10000))
            reader->process->kill();
        reader->process->waitForFinished(5000);
    }
    return 0;
}
