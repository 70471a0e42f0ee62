#pragma once
// A session bus of a test's own (dbus-daemon), never the user's.
#include <QProcess>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <csignal>
#include <gtest/gtest.h>
#include <sys/prctl.h>
#include <utility>

// A session bus of the test's own, stopped by its process id (with the test even if it crashes).
struct TPrivateBus {
    QTemporaryDir dir;
    QProcess daemon;
    QString address;
    TPrivateBus()
    {
        daemon.setChildProcessModifier([] { ::prctl(PR_SET_PDEATHSIG, SIGTERM); });
        daemon.start("dbus-daemon",
                     {"--session", "--nofork", "--print-address", "--address=unix:path=" + dir.filePath("bus")});
        daemon.waitForReadyRead(10000);
        address = daemon.readLine().trimmed();
    }
    ~TPrivateBus() { daemon.terminate(), daemon.waitForFinished(); }
    // The program as a client, on this bus or the tests' own: exit status and output. This thread answers meanwhile.
    std::pair<int, QString> Client(const QStringList &arguments, bool onThisBus = true,
                                   const QString &program = qEnvironmentVariable("KOTAR_PROGRAM"))
    {
        QProcess client;
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        if (onThisBus)
            environment.insert("DBUS_SESSION_BUS_ADDRESS", address);
        client.setProcessEnvironment(environment);
        client.setWorkingDirectory(dir.path());
        QSignalSpy finished(&client, &QProcess::finished);
        client.start(program, arguments);
        EXPECT_TRUE(finished.wait(30000));
        return {client.exitCode(), client.readAllStandardOutput() + client.readAllStandardError()};
    }
};
