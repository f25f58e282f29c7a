#include "zormodtestcycle.h"

#include "zormodtestcyclestates.h"

ZorModTestCycle::ZorModTestCycle(QObject *parent)
    : ZorModule(parent)
{
    static const char *const defaults[][2] = {
        {"Position1", "1000.0"}, {"Velocity1", "1000"}, {"Acceleration1", "100"},
        {"Deceleration1", "50"}, {"CycleTime1", "1000"}, {"Position2", "0.0"},
        {"Velocity2", "2000"}, {"Acceleration2", "200"}, {"Deceleration2", "100"},
        {"CycleTime2", "500"}, {"DebugMode", "1"}};
    for (const auto &entry : defaults)
        setProperty(QString::fromLatin1(entry[0]), QString::fromLatin1(entry[1]));
}

ZorModTestCycle::~ZorModTestCycle()
{
    stop();
}

QString ZorModTestCycle::acceptedSlaveTypes() const
{
    return QStringLiteral("drive_canopen+,drive_ruxa+");
}

Macho::StateRef ZorModTestCycle::rootStateRef() const
{
    return TestCycle::Root::makeStateRef();
}

ZorModule *createTestCycleModule(QObject *parent)
{
    return new ZorModTestCycle(parent);
}
