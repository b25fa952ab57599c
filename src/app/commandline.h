#pragma once

#include <QString>
#include <QStringList>

namespace quorvel {

// What the command line asked for.
struct CommandLine {
    bool refresh = false;
    bool help = false;
    bool version = false;
    QString dataDir;
    QString importOpml;
    QString exportOpml;
    QString view; // "light" or "web" when --view was given
    QString error; // non-empty when the arguments could not be understood
};

// Parses the arguments after the program name. An option with a value takes it as the next
// argument or after '=' in the same one; an empty value is an error.
CommandLine parseCommandLine(const QStringList& arguments);

// The --help text.
QString usageText();

} // namespace quorvel
