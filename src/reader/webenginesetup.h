#pragma once

namespace quorvel {

// Prepares the browser engine before the QApplication is made: its sandbox off when running
// as root (the engine refuses to start otherwise) and the shared OpenGL contexts it needs.
void prepareWebEngine();

} // namespace quorvel
