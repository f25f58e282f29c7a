// The drive's own Python script: start, stop and status (3500h.2), the
// update that writes "DriveScript.py", compiles it into a drive image and
// downloads it (DriveScriptUpdate, then Downloading with kind "s"), and the
// drive's emergencies, through which the script's output and the embedded
// interpreter's errors arrive.
#include "zormodposdrivestates.h"

#include "drivescriptconverter.h"
#include "pythonruntime.h"
#include "zorapplfiles.h"
#include "zormodposdrive.h"

#include <QFile>
#include <QFileInfo>
#include <QTextStream>

namespace ZorNodeStates {

namespace {

QString scriptStatusRead(int node)
{
    return QStringLiteral("SDOReadObject:1000:2:%1,3500h,2h,integer8\n").arg(node);
}

// "Emergency (8130h,11h,00 00 00 00 00)": code and register padded hex.
QString emergencyText(const QString &what, quint32 code, quint32 reg, const QString &data)
{
    return QStringLiteral("%1 (%2h,%3h,%4)")
        .arg(what)
        .arg(code, 4, 16, QLatin1Char('0'))
        .arg(reg, 2, 16, QLatin1Char('0'))
        .arg(data);
}

} // namespace

DriveRoot::Outcome DriveRoot::handleScriptControl(const ZorMessage &request)
{
    const QString data = request.data().toString();
    const int n = data.section(QLatin1Char(','), 0, 0).trimmed().toInt();
    if (n == 1 && data.contains(QLatin1Char(','))) {
        makePending(request);
        setContinuation<DriveScriptUpdate>(Opened);
        requestTransition<CommInit>();
        return Leaving;
    }
    if (!NodeRoot::box().commOpen || nodeId() == 0) {
        // Served once communication is open (readRequests takes it again):
        // a status read sent before would fail on a closed interface.
        deferredRequests() << request;
        setContinuation<Idle>(Opened);
        requestTransition<CommInit>();
        return Leaving;
    }
    if (n == 0 || n == 1) {
        setStatusText(tr("Changing Script Status..."));
        sendToSlaves(ZorMessage(KM_INTERVIEW, KS_REQUEST,
                                QStringLiteral("SDOWriteObject:1000:2:%1,3500h,2h,integer8,%2\n").arg(nodeId()).arg(n)),
                     true);
    } else {
        setStatusText(tr("Checking Script Status..."));
    }
    ZorMessage immediate(KM_SCRIPT_CONTROL, KS_ANSWER, request.data());
    sendToMaster(immediate, true);
    Box &d = box();
    d.scriptControlRequest = request;
    d.scriptStatusInterview = ZorMessage(KM_INTERVIEW, KS_REQUEST, scriptStatusRead(nodeId()));
    sendToSlaves(d.scriptStatusInterview, true);
    return Handled;
}

bool DriveRoot::takeScriptStatus(const ZorMessage &message)
{
    Box &d = box();
    if (message.msgType() != KM_INTERVIEW || message != d.scriptStatusInterview || message.isRequest()
        || message.msgState() == KS_WAITING || message.msgState() == KS_INFO)
        return false;
    bool ok = false;
    const int value = message.data().toString().section(QLatin1Char('\n'), 0, 0).section(QLatin1Char(','), -1)
                          .trimmed().toInt(&ok);
    d.scriptStatus = message.msgState() == KS_ANSWER && ok ? value : -1;
    if (d.scriptStatus == 0)
        setStatusText(tr("Script Stopped"));
    else if (d.scriptStatus == 1)
        setStatusText(tr("Script Started"));
    else
        setStatusText(tr("Script Status Unknown"));
    if (d.scriptControlRequest.msgType() == KM_SCRIPT_CONTROL)
        answerRequest(d.scriptControlRequest, KS_ANSWER, d.scriptStatus);
    d.scriptControlRequest = ZorMessage();
    return true;
}

void DriveRoot::handleEmergency(const ZorMessage &message)
{
    if (message.msgType() != KM_CANOPEN_EMERGENCY)
        return;
    const QString text = message.data().toString();
    if (text.section(QLatin1Char(','), 0, 0).trimmed().toInt() != nodeId())
        return;
    const quint32 code = text.section(QLatin1Char(','), 1, 1).trimmed().toUInt();
    const quint32 reg = text.section(QLatin1Char(','), 2, 2).trimmed().toUInt();
    const QString dataField = text.section(QLatin1Char(','), 3);
    QList<quint8> bytes;
    for (const QString &b : dataField.split(QLatin1Char(' '), Qt::SkipEmptyParts))
        bytes << quint8(b.toUInt(nullptr, 16));

    Box &d = box();
    switch (code) {
    case 0xFF50:
        for (quint8 byte : bytes) {
            bool complete = false;
            if (byte >= 32 && byte <= 126) {
                d.scriptOutputLine += QLatin1Char(char(byte));
                // The drive's print writes its line end as the two characters
                // of the escape.
                if (d.scriptOutputLine.endsWith(QLatin1String("\\n"))) {
                    d.scriptOutputLine.chop(2);
                    complete = true;
                } else if (d.scriptOutputLine.endsWith(QLatin1String("\\r"))) {
                    d.scriptOutputLine.chop(2);
                }
            } else if (byte == 10 || byte == 13) {
                complete = true;
            }
            if (!complete || d.scriptOutputLine.isEmpty())
                continue;
            if (d.viaKelvatro)
                setStatusText(QStringLiteral("kelvatro: ") + d.scriptOutputLine);
            else
                sendToMaster(ZorMessage(KM_SCRIPT_MSG, KS_INFO,
                                        d.scriptOutputSource + QStringLiteral(",StdOut:") + d.scriptOutputLine),
                             true);
            d.scriptOutputLine.clear();
        }
        break;
    case 0xFF51:
        if (bytes.size() >= 2)
            d.scriptOutputSource =
                QStringLiteral("%1h").arg(quint32(bytes.at(0)) | (quint32(bytes.at(1)) << 8), 4, 16, QLatin1Char('0'));
        break;
    case 0x6200:
        NodeRoot::box().errorText = emergencyText(tr("Embedded Python Error"), code, reg, dataField);
        break;
    default:
        NodeRoot::box().errorText = emergencyText(tr("Emergency"), code, reg, dataField);
        break;
    }
}

// ---- DriveScriptUpdate ------------------------------------------------------------

void DriveScriptUpdate::entry()
{
    Box &u = box();
    u = Box();
    setProperty(QStringLiteral("ScriptFileName"), QStringLiteral("DriveScript.py"), true);
    QString text = NodeRoot::box().pendingCommand.data().toString().section(QLatin1Char(','), 1);
    DriveScriptConverter::toDriveModule(text);
    u.scriptPath = property(QStringLiteral("ScriptFileName"));
    QString file = u.scriptPath;
    if (QFileInfo(file).fileName() == file)
        ZorApplServices::makeAbsoluteToWorkingDir(file);
    QFile out(file);
    if (out.open(QIODevice::WriteOnly | QIODevice::Truncate | QIODevice::Text)) {
        QTextStream stream(&out);
        stream.setCodec("UTF-8");
        stream << text;
        stream.flush();
        u.written = stream.status() == QTextStream::Ok && out.error() == QFile::NoError;
        out.close();
        u.written = u.written && out.error() == QFile::NoError;
    }
    answerPendingCommand(u.written);
}

void DriveScriptUpdate::cycle()
{
    Box &u = box();
    ZorModPosDrive *m = drive();
    if (!u.written) {
        // An old script file is never compiled and downloaded in place of
        // the one that could not be written.
        NodeRoot::box().errorText = tr("Could not write the drive script \"%1\"").arg(u.scriptPath);
        requestTransition<Error>();
        return;
    }
    PythonRuntime runtime;
    const bool loaded = runtime.isLoaded();
    if (m)
        m->sendScriptOutput(QStringLiteral("\nPython '%1' DLL Loader: %2\n")
                                .arg(runtime.libraryName(), loaded ? QStringLiteral("Success") : QStringLiteral("Error")),
                            !loaded);
    bool made = false;
    if (loaded) {
        QString library;
        QString error;
        made = runtime.compileScriptImage(u.scriptPath, u.imagePath, library, error);
        if (m) {
            m->sendScriptOutput(QStringLiteral("\nPyMite image creator library %1\n").arg(library), false);
            if (!runtime.stdOutText().isEmpty())
                m->sendScriptOutput(QStringLiteral("Python output:\n%1\n").arg(runtime.stdOutText()), false);
            if (!runtime.stdErrText().isEmpty())
                m->sendScriptOutput(QStringLiteral("\nPython error:\n%1\n").arg(runtime.stdErrText()), true);
            if (!error.isEmpty())
                m->sendScriptOutput(QStringLiteral("\nImage creator error: %1\n").arg(error), true);
        }
    }
    setStatusText(made ? tr("Python image file creator: OK")
                       : tr("Python image file creator: ERROR (see details above)"));
    if (!made) {
        requestTransition<Error>();
        return;
    }
    // Absolute: the download must not depend on the folder current then.
    u.imagePath = QFileInfo(u.imagePath).absoluteFilePath();
    ZorMessage download(KM_DRIVE_DOWNLOAD_START, KS_REQUEST, QStringLiteral("s,%1").arg(u.imagePath));
    download.setOrigin(module()->label());
    NodeRoot::box().pendingCommand = download;
    requestTransition<Downloading>();
}

} // namespace ZorNodeStates
