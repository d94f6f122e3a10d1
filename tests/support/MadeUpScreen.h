#pragma once

#include <QCoreApplication>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>

// What a case run again in a child process ended with.
struct ChildRun {
    bool finished = false;
    QProcess::ExitStatus exitStatus = QProcess::CrashExit;
    int exitCode = -1;
    QString output;
};

// Runs the cases `gtestFilter` of this test program again in a child process whose offscreen
// platform shows one made-up screen of `width` x `height` at `dpi`, with Qt's own scaling on or off
// and no scaling settings inherited from the environment. `mode` says whether the child's errors
// join its output.
inline ChildRun RunOnMadeUpScreen(const QString& gtestFilter, int width, int height, int dpi, bool qtScaling,
                                  QProcess::ProcessChannelMode mode) {
    ChildRun run;
    QTemporaryDir dir;
    if (!dir.isValid()) return run;
    const QString config = dir.filePath(QStringLiteral("screens.json"));
    QFile file(config);
    if (!file.open(QIODevice::WriteOnly)) return run;
    file.write(QStringLiteral(R"({"screens": [{"name": "s", "x": 0, "y": 0, "width": %1, "height": %2, )"
                              R"("logicalDpi": %3, "logicalBaseDpi": 96, "dpr": 1}]})")
                   .arg(width)
                   .arg(height)
                   .arg(dpi)
                   .toUtf8());
    file.close();

    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen:configfile=") + config);
    env.insert(QStringLiteral("QT_ENABLE_HIGHDPI_SCALING"),
               qtScaling ? QStringLiteral("1") : QStringLiteral("0"));
    for (const char* name :
         {"QT_SCALE_FACTOR", "QT_SCREEN_SCALE_FACTORS", "QT_FONT_DPI", "QT_USE_PHYSICAL_DPI"})
        env.remove(QString::fromLatin1(name));
    QProcess child;
    child.setProcessEnvironment(env);
    child.setProcessChannelMode(mode);
    child.start(QCoreApplication::applicationFilePath(), {QStringLiteral("--gtest_filter=") + gtestFilter});
    run.finished = child.waitForFinished(60000);
    run.exitStatus = child.exitStatus();
    run.exitCode = child.exitCode();
    run.output = QString::fromLocal8Bit(child.readAllStandardOutput());
    return run;
}
