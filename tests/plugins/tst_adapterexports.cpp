// What the adapter plug-ins and the makers' libraries below them export:
// each plug-in exactly the nine plug-in functions, each maker's library
// (our stand-in) every entry point its plug-in binds or links.
#include "zortest.h"
#include "zortestutil.h"
#include "canportlibrary.h"

#include <QtTest>

namespace {

// Every name a shared library defines and exports, whatever its kind
// (functions, weak template code, typeinfo objects, unique symbols).
QStringList definedExports(const QString &path, QString *error)
{
    const QString nm = QStandardPaths::findExecutable("nm");
    if (nm.isEmpty()) {
        *error = "nm not installed";
        return {};
    }
    QProcess p;
    p.start(nm, {"-D", "--defined-only", path});
    if (!p.waitForFinished(10000) || p.exitCode() != 0) {
        *error = QString::fromLocal8Bit(p.readAllStandardError());
        return {};
    }
    QStringList names;
    for (const QString &line : QString::fromLatin1(p.readAllStandardOutput()).split('\n')) {
        const QStringList fields = line.simplified().split(' ');
        if (fields.size() == 3)
            names << fields[2];
    }
    names.sort();
    return names;
}

QString pluginPath(const QString &key)
{
    return ZorTest::buildPath("Drivers/buslink/" + CanPortLibrary::fileNameForKey(key));
}

QString platformPath(const QString &base)
{
    return ZorTest::buildPath("platform/" + base + ".so");
}

QStringList sorted(QStringList names)
{
    names.sort();
    return names;
}

} // namespace

class TestAdapterExports : public QObject
{
    Q_OBJECT
private slots:
    void pluginExportsTheNineFunctions_data()
    {
        QTest::addColumn<QString>("key");
        for (const char *key : {"ems", "mhs", "kvaser", "peak", "castor"})
            QTest::newRow(key) << key;
    }
    void pluginExportsTheNineFunctions()
    {
        QFETCH(QString, key);
        QString error;
        const QStringList names = definedExports(pluginPath(key), &error);
        if (error == "nm not installed")
            QSKIP("nm not installed");
        QVERIFY2(error.isEmpty(), qPrintable(error));
        QCOMPARE(names, sorted({"canPortBitrateSet", "canPortClose", "canPortEcho",
                                "canPortGoBusOff", "canPortGoBusOn", "canPortLibraryInit",
                                "canPortOpen", "canPortRead", "canPortWrite"}));
    }

    void makersLibraryExportsItsEntryPoints_data()
    {
        QTest::addColumn<QString>("library");
        QTest::addColumn<QStringList>("names");
        QTest::newRow("cpcwin") << "cpcwin" << QStringList{
            "CPC_OpenChannel", "CPC_CloseChannel", "CPC_GetInitParamsPtr", "CPC_CANInit",
            "CPC_CANExit", "CPC_Control", "CPC_GetInfo", "CPC_GetCANState",
            "CPC_ClearMSGQueue", "CPC_ClearCMDQueue", "CPC_GetMSGQueueCnt", "CPC_SendMsg",
            "CPC_SendRTR", "CPC_SendXMsg", "CPC_SendXRTR", "CPC_WaitForMType",
            "CPC_WaitForEvent", "CPC_AddHandler", "CPC_RemoveHandler", "CPC_AddHandlerEx",
            "CPC_RemoveHandlerEx", "CPC_Handle", "CPC_RequestCANParams",
            "CPC_RequestCANState", "CPC_RequestInfo", "CPC_PutUser", "CPC_PutFirmware",
            "CPC_InitLibrary"};
        QTest::newRow("mhstcan") << "mhstcan" << QStringList{
            "CanInitDriver", "CanDownDriver", "CanSetOptions", "CanDeviceOpen",
            "CanDeviceClose", "CanApplaySettings", "CanSetMode", "CanSet", "CanGet",
            "CanTransmit", "CanTransmitClear", "CanTransmitGetCount", "CanTransmitSet",
            "CanReceive", "CanReceiveClear", "CanReceiveGetCount", "CanSetSpeed",
            "CanSetSpeedUser", "CanDrvInfo", "CanDrvHwInfo", "CanSetFilter",
            "CanGetDeviceStatus", "CanSetPnPEventCallback", "CanSetStatusEventCallback",
            "CanSetRxEventCallback", "CanSetEvents", "CanEventStatus"};
        QTest::newRow("canlib32") << "canlib32" << QStringList{
            "DllGetVersion", "canInitializeLibrary", "canOpenChannel", "canClose",
            "canSetBusParams", "canSetBitrate", "canBusOn", "canBusOff", "canIoCtl", "canRead",
            "canWrite", "kvSetNotifyCallback"};
        QTest::newRow("PCAN_USB") << "PCAN_USB" << QStringList{
            "PcanUsbClose", "PcanUsbInit", "PcanUsbRead", "PcanUsbWrite"};
        QTest::newRow("castorDriver") << "castorDriver" << QStringList{
            "canInitializeLib", "canGetNumberOfChannels", "canOpenChannel", "canClose",
            "canSetBitRate", "canBusOn", "canBusOff", "canIoCtl", "canRead", "canWrite"};
    }
    void makersLibraryExportsItsEntryPoints()
    {
        QFETCH(QString, library);
        QFETCH(QStringList, names);
        QString error;
        const QStringList exported = definedExports(platformPath(library), &error);
        if (error == "nm not installed")
            QSKIP("nm not installed");
        QVERIFY2(error.isEmpty(), qPrintable(error));
        QCOMPARE(exported, sorted(names));
    }
};

ZOR_TEST(TestAdapterExports)
#include "tst_adapterexports.moc"
