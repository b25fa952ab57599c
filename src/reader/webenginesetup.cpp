#include "webenginesetup.h"

#include <QCoreApplication>

#ifdef Q_OS_UNIX
#include <unistd.h>
#endif

namespace quorvel {

void prepareWebEngine() {
#ifdef Q_OS_UNIX
    if (geteuid() == 0 && qEnvironmentVariableIsEmpty("QTWEBENGINE_DISABLE_SANDBOX"))
        qputenv("QTWEBENGINE_DISABLE_SANDBOX", "1");
#endif
    // The page is a strip of static text and small images: the engine draws it in software,
    // which spares its GPU set-up (less memory, a quicker first page). Switches given in the
    // environment replace these.
    if (!qEnvironmentVariableIsSet("QTWEBENGINE_CHROMIUM_FLAGS"))
        qputenv("QTWEBENGINE_CHROMIUM_FLAGS", webEngineSwitches());
    QCoreApplication::setAttribute(Qt::AA_ShareOpenGLContexts);
}

const char* webEngineSwitches() {
    return "--disable-gpu";
}

} // namespace quorvel
