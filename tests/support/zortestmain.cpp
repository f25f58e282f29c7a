// Entry point of every test program: `tst_<folder> <name> [QTest options]`
// runs the test class registered under <name>; `--list` prints the names.
#include "zordebuglog.h"
#include "zortest.h"

#include <QApplication>
#include <QFileInfo>
#include <QMap>
#include <QTemporaryDir>
#include <QTest>
#include <cstdio>

namespace {
QMap<QString, ZorTest::Factory> &registry()
{
    static QMap<QString, ZorTest::Factory> map;
    return map;
}
}

bool ZorTest::registerTest(const char *file, Factory factory)
{
    QString name = QFileInfo(QString::fromLocal8Bit(file)).completeBaseName();
    if (name.startsWith(QLatin1String("tst_")))
        name = name.mid(4);
    registry().insert(name, factory);
    return true;
}

int main(int argc, char **argv)
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    app.setAttribute(Qt::AA_Use96Dpi, true);
    const QStringList args = app.arguments();
    if (args.size() < 2 || args.at(1) == QLatin1String("--list")) {
        for (const QString &n : registry().keys())
            std::printf("%s\n", qPrintable(n));
        return args.size() < 2 ? 2 : 0;
    }
    const QString name = args.at(1);
    if (!registry().contains(name)) {
        std::fprintf(stderr, "no test named '%s'\n", qPrintable(name));
        return 2;
    }
    // Debug logs go to a folder of this run, not beside the test program.
    QTemporaryDir logs;
    if (logs.isValid())
        ZorDebugLog::setLogFolder(logs.path());
    QScopedPointer<QObject> test(registry().value(name)());
    QStringList qtestArgs = args;
    qtestArgs.removeAt(1);
    return QTest::qExec(test.data(), qtestArgs);
}
