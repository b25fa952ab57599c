#include "commandline.h"

#include <utility>

namespace quorvel {

CommandLine parseCommandLine(const QStringList& arguments) {
    CommandLine line;
    // The options that take a value, given as "--name VALUE" or "--name=VALUE".
    const std::pair<QLatin1String, QString*> valueOptions[] = {
        {QLatin1String("--data-dir"), &line.dataDir},
        {QLatin1String("--import-opml"), &line.importOpml},
        {QLatin1String("--export-opml"), &line.exportOpml},
        {QLatin1String("--view"), &line.view},
    };
    for (int i = 0; i < arguments.size() && line.error.isEmpty(); ++i) {
        const QString& argument = arguments.at(i);
        if (argument == QLatin1String("--refresh")) {
            line.refresh = true;
            continue;
        }
        if (argument == QLatin1String("--help") || argument == QLatin1String("-h")) {
            line.help = true;
            continue;
        }
        if (argument == QLatin1String("--version") || argument == QLatin1String("-v")) {
            line.version = true;
            continue;
        }
        bool known = false;
        for (const auto& [name, target] : valueOptions) {
            const qsizetype equals = argument.indexOf(QLatin1Char('='));
            const QStringView given = equals < 0 ? QStringView(argument)
                                                 : QStringView(argument).first(equals);
            if (given != name)
                continue;
            known = true;
            if (equals >= 0)
                *target = argument.mid(equals + 1);
            else if (i + 1 < arguments.size())
                *target = arguments.at(++i);
            else
                line.error = QStringLiteral("%1 needs a value").arg(name);
            // An empty value would quietly mean the default folder or no file at all.
            if (line.error.isEmpty() && target->isEmpty())
                line.error = QStringLiteral("%1 needs a value").arg(name);
            break;
        }
        if (!known)
            line.error = QStringLiteral("unknown argument: %1").arg(argument);
    }
    if (line.error.isEmpty() && !line.view.isEmpty() && line.view != QLatin1String("light") &&
        line.view != QLatin1String("web"))
        line.error = QStringLiteral("--view takes light or web, not '%1'").arg(line.view);
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
        "                        (every option with a value also takes the form --name=VALUE)\n"
        "  --view=light|web      show the page in the light view or the browser engine's\n"
        "                        (for this run; the store's view setting otherwise)\n"
        "  --import-opml FILE    add the feeds of an OPML file to the feed list\n"
        "  --export-opml FILE    write the enabled feeds as OPML to FILE ('-': standard output)\n"
        "  --help                show this text\n"
        "  --version             show the version\n");
}

} // namespace quorvel
