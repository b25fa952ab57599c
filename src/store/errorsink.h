#pragma once

#include <QString>

namespace quorvel {

// Where the quiet error traps of the store hand an error's description, number and source.
// It shows nothing to the user; it prints the error on stderr for whoever is watching.
void errorSink(const QString& description, long number, const QString& source);

} // namespace quorvel
