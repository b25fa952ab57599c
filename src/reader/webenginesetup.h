#pragma once

namespace quorvel {

// Prepares the browser engine before the QApplication is made: its sandbox off when running
// as root (the engine refuses to start otherwise), its switches (webEngineSwitches, unless
// QTWEBENGINE_CHROMIUM_FLAGS is set) and the shared OpenGL contexts it needs.
void prepareWebEngine();

// The engine's switches the program runs with.
const char* webEngineSwitches();

} // namespace quorvel
