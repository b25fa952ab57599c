#include "errorsink.h"

#include <cstdio>

namespace quorvel {

void errorSink(const QString& description, long number, const QString& source) {
    // Nothing is shown to the user; the line helps whoever runs the program from a terminal.
    std::fprintf(stderr, "quorvel: %s (%ld) in %s\n", description.toLocal8Bit().constData(), number,
                 source.toLocal8Bit().constData());
}

} // namespace quorvel
