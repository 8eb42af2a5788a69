#pragma once

#include <QElapsedTimer>
#include <QProcess>
#include <QThread>

#include <functional>

// Starts program and kills it (SIGKILL) delayMs after ready() first holds. Returns whether the
// kill came before the child ended on its own; every wait is bounded.
inline bool KillChildAt(const QString& program, const QStringList& args, const QProcessEnvironment& env,
                        const std::function<bool(QProcess&)>& ready, int delayMs)
{
    QProcess child;
    child.setProcessEnvironment(env);
    child.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    child.start(program, args);
    if (!child.waitForStarted(10000))
        return false;
    QElapsedTimer limit;
    limit.start();
    while (!ready(child) && child.state() == QProcess::Running && limit.elapsed() < 60000)
        child.waitForReadyRead(1);
    if (child.state() != QProcess::Running)
        return false;
    QThread::msleep(delayMs);
    const bool killed = child.state() == QProcess::Running;
    child.kill();
    child.waitForFinished(10000);
    return killed && child.exitStatus() == QProcess::CrashExit;
}
