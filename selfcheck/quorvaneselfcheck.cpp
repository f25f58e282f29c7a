// The self-check runner: hands the suite to the QtTest runner, which runs
// its six cases in order and prints a PASS or FAIL line for each and the
// totals. QtTest options (-v2, -o file,format, ...) pass through.
#include "quorvaneunittest.h"
#include "zortempsettings.h"

#include <QApplication>
#include <QTest>

int main(int argc, char **argv)
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    // The project the suite loads reads user settings: never the user's own.
    ZorTest::TempSettings settings;
    QuorvaneUnitTest suite;
    return QTest::qExec(&suite, argc, argv);
}
