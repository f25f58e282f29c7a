// The node-id scan: which CANopen nodes are on the bus, and what device type
// each reports.
//
// The scan resets the communication of every node (NMT 82h to all), so that
// each node sends its boot-up message on 700h + node id. It listens for
// these for a while (the listen time; 2000 ms after the first boot-up at
// most), then reads object 1000h:00 (device type) of every node found with
// one SDO upload each, and answers with two comma lists in ascending node
// order: the node ids, a line feed, the device types in decimal, 0 for a
// node that gave none ("3,5\n131474,0").
//
// Only 701h..77Fh count as nodes (ids 1..127); LSS traffic on 7E4h/7E5h and
// other frames of that range are no nodes. Only a real upload answer (43h,
// or 42h without size) is a device type; an abort or a time-out leaves 0.
// A heartbeat or second boot-up of a node already read keeps its value.
//
// ZorNodeScan holds the scan's bookkeeping and is driven with a millisecond
// clock by the gateway's ScanIds state; it sends nothing itself.
#pragma once

#include <QList>
#include <QMap>
#include <QString>

class ZorNodeScan
{
public:
    enum Phase { Listening, Probing, Done };

    // Starts listening at time now (ms) for listenMs, the probes then waiting
    // at most probeWaitMs for their answers. A boot-up shortens a longer
    // listen time to settleMs from that moment.
    void start(qint64 now, int listenMs, int settleMs, int probeWaitMs);
    // A received frame (any frame; the scan picks boot-ups and heartbeats).
    void frameReceived(quint32 cobId, qint64 now);
    // Advances by the clock. Returns the node ids to probe when listening
    // has just ended (once), else an empty list.
    QList<int> step(qint64 now);
    // The answer to one probe: its node and the completed exchange text, or
    // an empty text when the probe failed.
    void probeAnswered(int node, const QString &answerText, quint16 responseBase);
    Phase phase() const { return m_phase; }
    // True when the scan found no node (the answer then counts as failed).
    bool foundNone() const { return m_found.isEmpty(); }
    QString answerText() const;
    QMap<int, quint32> found() const { return m_found; }

    // The probe of one node: an SDO upload request of 1000h:00 awaiting any
    // answer of that node about that object.
    static QString probeExchange(int node, quint16 requestBase, quint16 responseBase, int timeoutMs);
    // The listen time of a "ScanIds" line with that time-out: settleMs for
    // time-outs up to twice it, else the time-out less settleMs.
    static int listenTime(int lineTimeoutMs, int settleMs);

private:
    Phase m_phase = Done;
    QMap<int, quint32> m_found;
    qint64 m_phaseStart = 0;
    int m_listenMs = 0;
    int m_settleMs = 0;
    int m_probeWaitMs = 0;
    int m_probesOut = 0;
};
