#include "zornodescan.h"

#include "zorcanexchange.h"
#include "zornmt.h"

#include <QStringList>

void ZorNodeScan::start(qint64 now, int listenMs, int settleMs, int probeWaitMs)
{
    m_phase = Listening;
    m_found.clear();
    m_phaseStart = now;
    m_listenMs = listenMs;
    m_settleMs = settleMs;
    m_probeWaitMs = probeWaitMs;
    m_probesOut = 0;
}

void ZorNodeScan::frameReceived(quint32 cobId, qint64 now)
{
    const int node = ZorNmt::errorControlNode(cobId);
    if (!node)
        return;
    // A node seen again keeps the device type already read.
    if (!m_found.contains(node))
        m_found.insert(node, 0);
    if (m_phase == Listening && m_listenMs > m_settleMs) {
        m_listenMs = m_settleMs;
        m_phaseStart = now;
    }
}

QList<int> ZorNodeScan::step(qint64 now)
{
    if (m_phase == Listening) {
        if (now - m_phaseStart <= m_listenMs)
            return {};
        m_phaseStart = now;
        m_probesOut = m_found.size();
        m_phase = m_found.isEmpty() ? Done : Probing;
        return m_found.keys();
    }
    if (m_phase == Probing && (m_probesOut <= 0 || now - m_phaseStart > m_probeWaitMs))
        m_phase = Done;
    return {};
}

void ZorNodeScan::probeAnswered(int node, const QString &answerText, quint16 responseBase)
{
    if (m_phase != Probing)
        return;
    --m_probesOut;
    quint32 cobId = 0;
    QByteArray data;
    const QString line = answerText.section(QLatin1Char('\n'), 0, 0);
    if (!ZorCanExchange::answerFrame(line, cobId, data) || data.size() != 8)
        return;
    if (int(cobId) - int(responseBase) != node || !m_found.contains(node))
        return;
    const quint8 command = quint8(data.at(0));
    // 43h: four bytes with size indicated; 42h: size not indicated, the
    // object's four bytes. Anything else (an abort above all) is no value.
    if (command == 0x43 || command == 0x42)
        m_found[node] = ZorCanExchange::getUnsigned(data, 4, 4);
}

QString ZorNodeScan::answerText() const
{
    QStringList nodes, values;
    for (auto it = m_found.cbegin(); it != m_found.cend(); ++it) {
        nodes << QString::number(it.key());
        values << QString::number(it.value());
    }
    return nodes.join(QLatin1Char(',')) + QLatin1Char('\n') + values.join(QLatin1Char(','));
}

QString ZorNodeScan::probeExchange(int node, quint16 requestBase, quint16 responseBase, int timeoutMs)
{
    const int any = ZorCanExchange::AnyByte;
    return ZorCanExchange::line(timeoutMs,
                                ZorCanExchange::frameText(requestBase + node, ZorCanExchange::bytes8({0x40, 0x00, 0x10, 0x00})),
                                ZorCanExchange::patternText(responseBase + node, {any, 0x00, 0x10, 0x00, any, any, any, any}));
}

int ZorNodeScan::listenTime(int lineTimeoutMs, int settleMs)
{
    return lineTimeoutMs <= 2 * settleMs ? settleMs : lineTimeoutMs - settleMs;
}
