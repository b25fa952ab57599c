#include "commandline.h"

namespace quorvel {

CommandLine parseCommandLine(const QStringList& arguments) {
    CommandLine line;
    auto valueAfter = [&](int& i, const QString& option, QString* target) {
        if (i + 1 >= arguments.size()) {
            line.error = QStringLiteral("%1 needs a value").arg(option);
            return;
        }
        *target = arguments.at(++i);
    };
    for (int i = 0; i < arguments.size() && line.error.isEmpty(); ++i) {
        const QString& argument = arguments.at(i);
        if (argument == QLatin1String("--refresh"))
            line.refresh = true;
        else if (argument == QLatin1String("--help") || argument == QLatin1String("-h"))
            line.help = true;
        else if (argument == QLatin1String("--version") || argument == QLatin1String("-v"))
            line.version = true;
        else if (argument == QLatin1String("--data-dir"))
            valueAfter(i, argument, &line.dataDir);
        else if (argument.startsWith(QLatin1String("--data-dir=")))
            line.dataDir = argument.mid(11);
        else if (argument.startsWith(QLatin1String("--view=")) || argument == QLatin1String("--view")) {
            if (argument == QLatin1String("--view"))
                valueAfter(i, argument, &line.view);
            else
                line.view = argument.mid(7);
            if (line.error.isEmpty() && line.view != QLatin1String("light") &&
                line.view != QLatin1String("web"))
                line.error = QStringLiteral("--view takes light or web, not '%1'").arg(line.view);
        } else if (argument == QLatin1String("--import-opml"))
            valueAfter(i, argument, &line.importOpml);
        else if (argument == QLatin1String("--export-opml"))
            valueAfter(i, argument, &line.exportOpml);
        else
            line.error = QStringLiteral("unknown argument: %1").arg(argument);
    }
    if (line.error.isEmpty() && line.dataDir.isEmpty() &&
        arguments.contains(QLatin1String("--data-dir")))
        line.error = QStringLiteral("--data-dir needs a folder");
    return line;
}

QString usageText() {
    return QStringLiteral(
        "Usage: quorvel [options]\n"
        "A feed reader that lives in the notification area.\n"
        "\n"
        "  (no option)           start the reader (one refresh without windows when there is\n"
        "                        no display)\n"
        "  --refresh             run one refresh cycle without any window and exit\n"
        "  --data-dir DIR        keep rss_feeds.xml, feeds.htm and error.log in DIR\n"
        "  --view=light|web      show the page in the light view or the browser engine's\n"
        "                        (for this run; the store's view setting otherwise)\n"
        "  --import-opml FILE    add the feeds of an OPML file to the feed list\n"
        "  --export-opml FILE    write the enabled feeds as OPML to FILE ('-': standard output)\n"
        "  --help                show this text\n"
        "  --version             show the version\n");
}

} // namespace quorvel
