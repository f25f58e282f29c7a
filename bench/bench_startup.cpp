// Start-up time: from launching the program to its main window being shown.
// Starts build/Quorvane under the offscreen platform with the start-up probe,
// which prints "startup_to_window: <ms> ms" once the window is up and quits.
// The figure printed here is measured from outside (process launch included),
// the median of several starts. Target: under 1 s.
#include "zortestutil.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QProcess>
#include <QTemporaryDir>

#include <algorithm>
#include <cstdio>
#include <vector>

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    QTemporaryDir dir;
    if (!dir.isValid())
        return 1;

    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
    env.insert(QStringLiteral("QUORVANE_STARTUP_PROBE"), QStringLiteral("1"));
    env.insert(QStringLiteral("XDG_CONFIG_HOME"), dir.filePath(QStringLiteral("config")));
    env.insert(QStringLiteral("HOME"), dir.filePath(QStringLiteral("home")));

    const int runs = 7;
    std::vector<qint64> outside, inside;
    for (int i = 0; i < runs; ++i) {
        QProcess p;
        p.setProcessEnvironment(env);
        p.setProcessChannelMode(QProcess::SeparateChannels);
        QElapsedTimer timer;
        timer.start();
        p.start(ZorTest::buildPath(QStringLiteral("Quorvane")), QStringList());
        qint64 shownAt = -1;
        QByteArray out;
        while (shownAt < 0 && p.waitForReadyRead(10000)) {
            out += p.readAllStandardOutput();
            const int at = out.indexOf("startup_to_window: ");
            if (at >= 0 && out.indexOf('\n', at) > at) {
                shownAt = timer.elapsed();
                inside.push_back(out.mid(at + 19).split(' ').value(0).toLongLong());
            }
        }
        p.waitForFinished(10000);
        if (shownAt < 0) {
            std::fprintf(stderr, "the program did not report its main window\n%s\n",
                         p.readAllStandardError().constData());
            return 1;
        }
        outside.push_back(shownAt);
    }
    std::sort(outside.begin(), outside.end());
    std::sort(inside.begin(), inside.end());
    std::printf("startup_to_window: %lld ms\n", static_cast<long long>(outside[runs / 2]));
    std::printf("startup_to_window_in_process: %lld ms\n", static_cast<long long>(inside[runs / 2]));
    return 0;
}
