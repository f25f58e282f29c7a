#include "zormoddrivexenax.h"

#include "zormoddrivexenaxstates.h"

const QString ZorModDriveXenax::UpdateInterval = QStringLiteral("UpdateInterval [msec]");
const QString ZorModDriveXenax::CommChannel = QStringLiteral("CommChannel [IP address:TCP Port]");
const QString ZorModDriveXenax::TargetPosition = QStringLiteral("TargetPosition [mm]");
const QString ZorModDriveXenax::TargetPositionMin = QStringLiteral("TargetPositionMin [mm]");
const QString ZorModDriveXenax::TargetPositionMax = QStringLiteral("TargetPositionMax [mm]");
const QString ZorModDriveXenax::PositionVelocity = QStringLiteral("PositionVelocity [mm/s]");
const QString ZorModDriveXenax::TargetVelocity = QStringLiteral("TargetVelocity [mm/s]");
const QString ZorModDriveXenax::PositionAcceleration =
    QStringLiteral("PositionAcceleration [mm/s\u00b2]");
const QString ZorModDriveXenax::ActualPosition = QStringLiteral("ActualPosition [mm]");
const QString ZorModDriveXenax::EncoderIncrements =
    QStringLiteral("EncoderIncrements [Increments/mm]");
const QString ZorModDriveXenax::OperationMode = QStringLiteral(
    "OperationMode [0-Standard | 1-Cogging Comp. | 2-CCM Reference Run | 3-StepDir | 4 - No Init]");
const QString ZorModDriveXenax::ManualCommand = QStringLiteral("ManualCommand [Xenax ASCII cmd]");
const QString ZorModDriveXenax::ManualCommandAnswer = QStringLiteral("ManualCommandAnswer");

ZorModDriveXenax::ZorModDriveXenax(QObject *parent)
    : ZorModule(parent)
{
    setProperty(UpdateInterval, QStringLiteral("100"));
    setProperty(CommChannel, QStringLiteral("192.168.1.100:10001"));
    setProperty(TargetPosition, QStringLiteral("0"));
    setProperty(TargetPositionMin, QStringLiteral("0"));
    setProperty(TargetPositionMax, QStringLiteral("44000"));
    setProperty(PositionVelocity, QStringLiteral("10"));
    setProperty(TargetVelocity, QStringLiteral("0"));
    setProperty(PositionAcceleration, QStringLiteral("100"));
    setProperty(ActualPosition, QStringLiteral("0"));
    setProperty(EncoderIncrements, QStringLiteral("1000"));
    setProperty(OperationMode, QStringLiteral("0"));
    setProperty(ManualCommand, QString());
    setProperty(ManualCommandAnswer, QString());
}

ZorModDriveXenax::~ZorModDriveXenax()
{
    stop();
}

Macho::StateRef ZorModDriveXenax::rootStateRef() const
{
    return DriveXenaxStates::XenaxRoot::makeStateRef();
}

ZorModule *createDriveXenaxModule(QObject *parent)
{
    return new ZorModDriveXenax(parent);
}
