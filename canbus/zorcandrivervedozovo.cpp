#include "zorcandrivervedozovo.h"

#include <QCoreApplication>

namespace {

ZorCanDriverHidBase::Kind vedozovoKind()
{
    ZorCanDriverHidBase::Kind kind;
    kind.productIds = {ZorCanDriverVedozovo::ProductId};
    return kind;
}

} // namespace

ZorCanDriverVedozovo::ZorCanDriverVedozovo(QWaitCondition *rxWake, ZorHidApi *hid)
    : ZorCanDriverHidBase(rxWake, hid, vedozovoKind())
{
    Timing t = timing();
    t.initReadMs = 50;
    t.initPauseMs = 100;
    setTiming(t);
}

ZorCanDriverVedozovo::~ZorCanDriverVedozovo()
{
    close();
}

bool ZorCanDriverVedozovo::open(const QString &portText, int bitRate, int debugLevel, int reserved,
                                int timestampMode)
{
    Q_UNUSED(portText);
    Q_UNUSED(reserved);
    Q_UNUSED(timestampMode);
    m_txStamp.reset();
    m_pollTimer.start();
    m_pollCommand = ZorAsciiAdapterProtocol::statusCommand();
    const QByteArray commands = QByteArrayLiteral("C\r") + QByteArray("S")
                                + QByteArray::number(bitRateCode(bitRate)) + '\r' + QByteArrayLiteral("O\r");
    return openChannel(bitRate, debugLevel, commands);
}

QString ZorCanDriverVedozovo::lastErrorText()
{
    if (!m_errorText.isEmpty())
        return m_errorText;
    if (!m_ok)
        return QCoreApplication::translate("ZorCanDriverVedozovo", "USB Error");
    return QString();
}

bool ZorCanDriverVedozovo::transmitStamp(quint16 &stamp)
{
    return m_txStamp.stamp(stamp);
}

void ZorCanDriverVedozovo::afterReceive()
{
    if (m_rxCount > 0)
        m_txStamp.follow(m_rxBank[m_rxCount - 1].Timestamp);
    if (m_deviceOpen && !m_deviceLost && m_xonOn && m_pollTimer.elapsed() > m_timing.pollMs) {
        m_pollTimer.start();
        comWrite(m_pollCommand);
    }
}
