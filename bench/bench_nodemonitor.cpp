// The network manager's node monitor on a full bus: eight configured
// objects copied for each of 127 nodes into the monitor table (as its panel
// does at start), the status grid built over it, a value change through the
// grid; the monitoring list text of the same 1,016 objects; and reading the
// identity answer of 127 nodes.
#include "zormonitoringeditmodel.h"
#include "zornetworkscan.h"
#include "zorobjeditmodel.h"
#include "zorstatusproxy.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QMimeData>
#include <cstdio>

namespace {

const int Nodes = 127;
const int ObjectsPerNode = 8;

QString configuredObjects()
{
    QString text = QStringLiteral("<CANopenObjectList>\n");
    for (int i = 0; i < ObjectsPerNode; ++i) {
        text += QStringLiteral(" <CANopenObject index=\"%1\" subIndex=\"0\" name=\"Object %2\" objectType=\"7\" "
                               "dataType=\"6\" accessType=\"ro\" zorUiFormat=\"updates:r1000\" "
                               "monitorMethod=\"TPDO1.%3.2\" monitorInterval=\"250\"/>\n")
                    .arg(0x6040 + i, 4, 16, QLatin1Char('0'))
                    .arg(i)
                    .arg(i % 4 * 2);
    }
    return text + QStringLiteral("</CANopenObjectList>\n");
}

QString identityAnswer()
{
    QString text = QStringLiteral("OnErrorContinue:%1:0\n").arg(Nodes * 6);
    for (int node = 1; node <= Nodes; ++node) {
        for (int sub = 1; sub <= 4; ++sub)
            text += QStringLiteral("SDOReadObject:1000:2:%1,1018h,%2,unsigned32:%1,1018h,%2h,unsigned32,%3\n")
                        .arg(node).arg(sub).arg(0x112233 + sub);
        text += QStringLiteral("SDOReadObject:1000:2:%1,1008h,0,visible_string:%1,1008h,0h,visible_string,Drive, axis %1\n").arg(node);
        text += QStringLiteral("SDOReadObject:1000:2:%1,100Ah,0,visible_string:%1,100Ah,0h,visible_string,SW 1.2\n").arg(node);
    }
    return text;
}

double msSince(QElapsedTimer &timer)
{
    const double ms = timer.nsecsElapsed() / 1e6;
    timer.restart();
    return ms;
}

} // namespace

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    QDomDocument configDoc;
    configDoc.setContent(configuredObjects());
    ZorObjEditModel config(configDoc, true);
    ZorObjEditModel monitor(QDomDocument(), false);
    QElapsedTimer timer;
    timer.start();

    for (int node = 1; node <= Nodes; ++node) {
        config.setLockedNodeId(QString::number(node));
        QMimeData *objects = config.allObjectsMimeData();
        monitor.dropMimeData(objects, Qt::CopyAction, 0, 0, QModelIndex());
        delete objects;
    }
    const double fillMs = msSince(timer);

    ZorStatusProxy grid;
    grid.setSourceModel(&monitor);
    grid.setup();
    const double gridMs = msSince(timer);

    monitor.setData(monitor.index(500, ZorObjEditModel::ValueColumn), QStringLiteral("42"),
                    ZorObjEditModel::RawValueRole);
    const double changeMs = msSince(timer);

    QDomDocument monitoringDoc;
    monitoringDoc.setContent(monitor.toXml());
    ZorMonitoringEditModel monitoring(monitoringDoc);
    timer.restart();
    const QString list = monitoring.monitorConfiguration();
    const double listMs = msSince(timer);

    const QString answer = identityAnswer();
    timer.restart();
    const QList<ZorNetworkScan::Identity> identities = ZorNetworkScan::identities(answer);
    const double identityMs = msSince(timer);

    if (monitor.rowCount() != Nodes * ObjectsPerNode || grid.rowCount() != Nodes
        || grid.columnCount() != ObjectsPerNode || list.count(QLatin1Char('\n')) != Nodes * ObjectsPerNode
        || identities.size() != Nodes || identities.last().name != QStringLiteral("Drive, axis 127")) {
        std::fprintf(stderr, "unexpected result: %d rows, grid %d x %d, %d identities\n", monitor.rowCount(),
                     grid.rowCount(), grid.columnCount(), int(identities.size()));
        return 1;
    }
    std::printf("nodemonitor_fill_127x8: %.1f ms\n", fillMs);
    std::printf("nodemonitor_grid_setup_127x8: %.1f ms\n", gridMs);
    std::printf("nodemonitor_grid_value_change: %.3f ms\n", changeMs);
    std::printf("monitoring_list_text_1016: %.1f ms\n", listMs);
    std::printf("netscan_identities_127: %.2f ms\n", identityMs);
    return 0;
}
