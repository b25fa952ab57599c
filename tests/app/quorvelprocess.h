#pragma once

#include <functional>

#include <QProcess>
#include <QStringList>
#include <gtest/gtest.h>

namespace quorvel::test {

struct QuorvelOptions {
    QString probe = QStringLiteral("http://127.0.0.1:1/"); // this one refuses connections
    QString workingDir;
    std::function<void()> inChild; // runs in the child before the program starts
};

// The real program, started at once without a display; several may run at once.
class Quorvel {
public:
    explicit Quorvel(const QStringList& arguments, const QuorvelOptions& options = {}) {
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        for (const char* name : {"DISPLAY", "WAYLAND_DISPLAY", "QT_QPA_PLATFORM"})
            env.remove(name);
        env.insert("QUORVEL_PROBE_URL", options.probe);
        m_process.setProcessEnvironment(env);
        m_process.setWorkingDirectory(options.workingDir);
        if (options.inChild)
            m_process.setChildProcessModifier(options.inChild);
        m_process.start(QUORVEL_BINARY, arguments);
    }
    // Waits for the end; the exit status (-1 when it crashed or hung).
    int finish() {
        const bool ended = m_process.waitForFinished(120000);
        m_out = QString::fromLocal8Bit(m_process.readAllStandardOutput());
        m_err = QString::fromLocal8Bit(m_process.readAllStandardError());
        return ended && m_process.exitStatus() == QProcess::NormalExit ? m_process.exitCode() : -1;
    }
    QString out() const { return m_out; }
    QString err() const { return m_err; }

private:
    QProcess m_process;
    QString m_out, m_err;
};

} // namespace quorvel::test
