#include "zormodxypos.h"

#include "zormodxyposstates.h"

ZorModXYPos::ZorModXYPos(QObject *parent)
    : ZorModule(parent)
{
    static const char *const defaults[][2] = {
        {"DriveLabelX", ""}, {"DriveLabelY", ""}, {"InterfaceLabel", ""}, {"TargetX", "0.0"},
        {"TargetY", "0.0"},  {"ActualX", "0.0"},  {"ActualY", "0.0"},     {"MinX", "0.0"},
        {"MaxX", "100.0"},   {"MinY", "0.0"},     {"MaxY", "100.0"}};
    for (const auto &entry : defaults)
        setProperty(QString::fromLatin1(entry[0]), QString::fromLatin1(entry[1]));
}

ZorModXYPos::~ZorModXYPos()
{
    stop();
}

QString ZorModXYPos::acceptedSlaveTypes() const
{
    return QStringLiteral("drive_canopen,drive_canopen,canusb,ethernet");
}

Macho::StateRef ZorModXYPos::rootStateRef() const
{
    return XYPanel::Root::makeStateRef();
}

ZorModule *createXYPosModule(QObject *parent)
{
    return new ZorModXYPos(parent);
}
