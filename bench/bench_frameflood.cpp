// A CAN gateway flooding 200,000 frames/s for 10 s (ten times what a
// saturated 1 Mbit/s bus carries) into a project with a CAN interface, its
// panel and monitor panel (CANopen decoder) and a remote-control server:
// the program's peak memory and how fast the remote control answers
// meanwhile.
//
// The GUI thread runs its event loop as in the program. A remote-control
// client (outside the process) asks KM_WHOAMI of the interface every 250 ms
// during the flood and times each answer.
//
// Lines: frameflood_rss_before (MB, the project loaded and the interface
// open), frameflood_peak_rss (MB, the process's high-water mark),
// frameflood_frames_sent (by the gateway), frameflood_frames_shown
// (numbered by the monitor), frameflood_frames_dropped (counted by the interface: a frame
// dropped on its way to several peers counts once for each),
// frameflood_rc_answers (of the requests sent), frameflood_rc_answer_max
// (ms), frameflood_rc_answer_median (ms).
#include "floodgateway.h"
#include "quorvaneproject.h"
#include "rcclient.h"
#include "zorapplservices.h"
#include "zorcontentcanmonitor.h"
#include "zordommodel.h"
#include "zormodcaninterface.h"

#include <QApplication>
#include <QDeadlineTimer>
#include <QElapsedTimer>
#include <QFile>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QThread>

#include <algorithm>
#include <cstdio>
#include <memory>

namespace {

const int floodRate = 200000;
const int floodMs = 10000;

// Resident memory of this process in MB: now (VmRSS) or its peak (VmHWM).
double residentMb(const char *field)
{
    QFile status(QStringLiteral("/proc/self/status"));
    if (!status.open(QIODevice::ReadOnly))
        return -1;
    for (const QByteArray &line : status.readAll().split('\n')) {
        if (line.startsWith(field))
            return line.mid(int(qstrlen(field))).trimmed().split(' ').first().toDouble() / 1024.0;
    }
    return -1;
}

bool runUntil(const std::function<bool()> &done, int timeoutMs)
{
    QDeadlineTimer deadline(timeoutMs);
    while (!done()) {
        if (deadline.hasExpired())
            return false;
        QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
        QThread::msleep(1);
    }
    return true;
}

QModelIndex labelled(QuorvaneProject &project, const QString &label, const QModelIndex &parent)
{
    for (int row = 0; row < project.model()->rowCount(parent); ++row) {
        const QModelIndex child = project.model()->index(row, 0, parent);
        if (child.data().toString() == label)
            return child;
    }
    return QModelIndex();
}

} // namespace

int main(int argc, char **argv)
{
    QApplication app(argc, argv);
    QStandardPaths::setTestModeEnabled(true);
    QCoreApplication::setOrganizationName(QStringLiteral("QuorvaneBench"));
    QCoreApplication::setApplicationName(QStringLiteral("FrameFlood"));
    if (!ZorApplServices::initAppGlobals()) {
        std::fprintf(stderr, "frameflood: no application files beside the program\n");
        return 1;
    }

    FloodGateway gateway(floodRate, floodMs);
    if (!gateway.listen()) {
        std::fprintf(stderr, "frameflood: the gateway could not listen\n");
        return 1;
    }
    const quint16 rcPort = RcClient::freePort();
    QTemporaryDir dir;
    const QString file = dir.filePath(QStringLiteral("flood.zorpro"));
    {
        QFile out(file);
        out.open(QIODevice::WriteOnly);
        out.write(QStringLiteral(
                      "<QuorvaneProject><module type=\"project\" label=\"Project Home\">"
                      "<module type=\"canusb\" label=\"CAN1\"><properties><Port>%1</Port>"
                      "<Baudrate>500K</Baudrate></properties>"
                      "<module type=\"canmonitor\" label=\"Monitor\"><docs><MonitoringConfigurationDoc>"
                      "<MonitoringConfiguration><DecoderType>CANopen</DecoderType><DecoderConfig/>"
                      "</MonitoringConfiguration></MonitoringConfigurationDoc></docs></module>"
                      "</module>"
                      "<module type=\"remotecontrol\" label=\"Remote\"><properties>"
                      "<RemoteControlMode>1</RemoteControlMode>"
                      "<RemoteControlConnection>SERVER:%2</RemoteControlConnection>"
                      "<RemoteControlMsgFilter>*KM_CAN_FRAME*</RemoteControlMsgFilter>"
                      "</properties></module></module></QuorvaneProject>")
                      .arg(gateway.address())
                      .arg(rcPort)
                      .toUtf8());
    }

    QuorvaneProject project;
    QString error;
    if (!project.load(file, error)) {
        std::fprintf(stderr, "frameflood: %s\n", qPrintable(error));
        return 1;
    }
    const QModelIndex top = project.model()->index(0, 0);
    const QModelIndex canIndex = labelled(project, QStringLiteral("CAN1"), top);
    const QModelIndex monitorIndex = labelled(project, QStringLiteral("Monitor"), canIndex);
    const QModelIndex rcIndex = labelled(project, QStringLiteral("Remote"), top);
    std::unique_ptr<ZorPanel> interfacePanel(project.createPanel(canIndex));
    std::unique_ptr<ZorPanel> monitorPanel(project.createPanel(monitorIndex));
    auto *monitor = qobject_cast<ZorContentCanmonitor *>(monitorPanel.get());
    auto *can = qobject_cast<ZorModCanInterface *>(project.moduleOf(canIndex));
    ZorModule *rc = project.moduleOf(rcIndex);
    if (!monitor || !can || !rc) {
        std::fprintf(stderr, "frameflood: the project's modules or panels are missing\n");
        return 1;
    }
    monitor->resize(900, 600);
    monitor->show();

    if (!runUntil([rc] { return rc->infoText().startsWith(QLatin1String("Server started")); }, 10000)) {
        std::fprintf(stderr, "frameflood: the remote-control server did not start\n");
        return 1;
    }
    RcClient client;
    if (!client.connectTo(rcPort)) {
        std::fprintf(stderr, "frameflood: %s\n", qPrintable(client.errorString()));
        return 1;
    }
    can->slaveIn(ZorMessage(KM_COMM_OPEN, KS_REQUEST));
    if (!runUntil([&gateway] { return gateway.started(); }, 10000)) {
        std::fprintf(stderr, "frameflood: the interface did not open\n");
        return 1;
    }
    const double before = residentMb("VmRSS:");

    QList<qint64> answers;
    int asked = 0;
    QElapsedTimer flood;
    flood.start();
    while (!gateway.finished() && flood.elapsed() < floodMs + 5000) {
        QElapsedTimer answer;
        answer.start();
        client.send("CAN1:KM_WHOAMI:KS_REQUEST\n\n");
        ++asked;
        if (!client.waitForFrame(QStringLiteral("^CAN1:KM_WHOAMI:KS_ANSWER"), 5000).isEmpty())
            answers << answer.elapsed();
        runUntil([&answer] { return answer.elapsed() >= 250; }, 1000);
    }
    // Whatever still waits for the window is shown.
    runUntil([] { return false; }, 1000);
    const double peak = residentMb("VmHWM:");

    std::sort(answers.begin(), answers.end());
    std::printf("frameflood_rss_before: %.0f MB\n", before);
    std::printf("frameflood_peak_rss: %.0f MB\n", peak);
    std::printf("frameflood_frames_sent: %lld frames\n", gateway.sent());
    std::printf("frameflood_frames_shown: %d frames\n", monitor->tableModel()->frameCount());
    std::printf("frameflood_frames_dropped: %llu frames\n",
                static_cast<unsigned long long>(can->droppedFrames()));
    std::printf("frameflood_rc_answers: %d of %d\n", int(answers.size()), asked);
    std::printf("frameflood_rc_answer_max: %lld ms\n", answers.isEmpty() ? -1LL : answers.last());
    std::printf("frameflood_rc_answer_median: %lld ms\n",
                answers.isEmpty() ? -1LL : answers.at(answers.size() / 2));

    can->slaveIn(ZorMessage(KM_COMM_CLOSE, KS_REQUEST));
    runUntil([can] { return can->status() == 0; }, 10000);
    monitorPanel.reset();
    interfacePanel.reset();
    return 0;
}
