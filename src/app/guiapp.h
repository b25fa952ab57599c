#pragma once

#include <QString>

namespace quorvel {

// Runs the reader with its windows: single-instance hand-off, reader window, tray, timer.
// Returns the process exit status.
int runReaderApplication(int argc, char** argv, const QString& dataDirOption);

} // namespace quorvel
