#pragma once

// Starts the program as its own process through tests/app/startup_driver.cpp, in `workdir`,
// offscreen, with its single-instance key and runtime files in `tmp` and the driver's
// settings `driver` ({ "ANSWER", "yes" } for DRIVER_ANSWER=yes; none inherited).
#include <QProcess>
#include <QVector>

#include <utility>

inline void startDriver(QProcess& program, const QString& workdir, const QString& tmp,
    const QVector<std::pair<const char*, QString>>& driver,
    QProcess::ProcessChannelMode channels = QProcess::ForwardedErrorChannel)
{
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    for (const QString& name : env.keys())
        if (name.startsWith(QLatin1String("DRIVER_")))
            env.remove(name);
    env.insert(QStringLiteral("TMPDIR"), tmp);
    env.insert(QStringLiteral("XDG_RUNTIME_DIR"), tmp);
    env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
    for (const auto& [name, value] : driver)
        env.insert(QLatin1String("DRIVER_") + QLatin1String(name), value);
    program.setProcessEnvironment(env);
    program.setWorkingDirectory(workdir);
    program.setProcessChannelMode(channels);
    program.start(QStringLiteral(STARTUP_DRIVER), QStringList());
}
