#include "caninterfacerig.h"

#include "zorbabelfish.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QTest>

QList<ZorMessage> MessageLog::messages() const
{
    std::lock_guard<std::mutex> locker(mutex);
    return list;
}

QList<ZorMessage> MessageLog::ofType(int type) const
{
    QList<ZorMessage> found;
    for (const ZorMessage &m : messages())
        if (m.msgType() == type)
            found << m;
    return found;
}

QList<ZorMessage> MessageLog::answersTo(const ZorMessage &request) const
{
    QList<ZorMessage> found;
    for (const ZorMessage &m : messages())
        if (m.msgId() == request.msgId() && m.msgState() != KS_REQUEST)
            found << m;
    return found;
}

QStringList MessageLog::infoTexts() const
{
    QStringList texts;
    for (const ZorMessage &m : ofType(KM_INFOTEXT))
        texts << m.data().toString();
    return texts;
}

QList<int> MessageLog::statuses() const
{
    QList<int> numbers;
    for (const ZorMessage &m : ofType(KM_STATUS))
        numbers << m.data().toInt();
    return numbers;
}

QList<int> MessageLog::statusChanges() const
{
    QList<int> changes;
    for (int s : statuses())
        if (changes.isEmpty() || changes.last() != s)
            changes << s;
    return changes;
}

QList<int> MessageLog::playerStatuses() const
{
    QList<int> numbers;
    for (const ZorMessage &m : ofType(KM_PLAYER_STATUS))
        numbers << m.data().toInt();
    return numbers;
}

int MessageLog::lastStatus() const
{
    const QList<int> numbers = statuses();
    return numbers.isEmpty() ? -1 : numbers.last();
}

void MessageLog::clear()
{
    std::lock_guard<std::mutex> locker(mutex);
    list.clear();
}

void MessageLog::record(const ZorMessage &message)
{
    std::lock_guard<std::mutex> locker(mutex);
    list << message;
}

CanInterfaceRig::CanInterfaceRig(const QString &type)
    : m_module(new ZorModCanInterface(QStringLiteral("CAN1"), type))
{
    QObject::connect(m_module.get(), &ZorModule::slaveOut, &master, &MessageLog::record);
    QObject::connect(m_module.get(), &ZorModule::masterOut, &slaves, &MessageLog::record);
}

CanInterfaceRig::~CanInterfaceRig() = default;

void CanInterfaceRig::useQuickNetDriver()
{
    m_module->setDriverFactory([](ZorCanDriverFactory::Kind kind) -> ZorAbstractCanDriver * {
        if (kind != ZorCanDriverFactory::Net)
            return nullptr;
        auto *driver = new ZorCanDriverTarnNet;
        driver->setReconnectInterval(100);
        driver->setConnectTimeout(1000);
        return driver;
    });
}

void CanInterfaceRig::setProperty(const QString &name, const QString &value)
{
    m_module->setProperty(name, value, false);
}

void CanInterfaceRig::start()
{
    m_module->start();
}

ZorMessage CanInterfaceRig::request(int type, const QVariant &data)
{
    ZorMessage message(type, KS_REQUEST, data);
    message.setOrigin(QStringLiteral("GUI"));
    m_module->slaveIn(message);
    return message;
}

bool CanInterfaceRig::waitForAnswer(const ZorMessage &request, int timeoutMs)
{
    QElapsedTimer timer;
    timer.start();
    while (master.answersTo(request).isEmpty()) {
        if (timer.elapsed() > timeoutMs)
            return false;
        QTest::qWait(5);
    }
    return true;
}

bool CanInterfaceRig::waitForStatus(int status, int timeoutMs)
{
    QElapsedTimer timer;
    timer.start();
    while (!master.statuses().contains(status)) {
        if (timer.elapsed() > timeoutMs)
            return false;
        QTest::qWait(5);
    }
    return true;
}

bool CanInterfaceRig::waitForInfoText(const QString &text, int timeoutMs)
{
    QElapsedTimer timer;
    timer.start();
    while (!master.infoTexts().contains(text)) {
        if (timer.elapsed() > timeoutMs)
            return false;
        QTest::qWait(5);
    }
    return true;
}

bool CanInterfaceRig::open(const QString &port, const QString &bitRate)
{
    setProperty(QStringLiteral("Port"), port);
    setProperty(QStringLiteral("Baudrate"), bitRate);
    if (!m_module->isRunning())
        start();
    const ZorMessage opening = request(KM_COMM_OPEN);
    return waitForAnswer(opening) && master.answersTo(opening).first().msgState() == KS_ANSWER;
}

bool CanInterfaceRig::waitForCommStatusReports(int n, int timeoutMs)
{
    const int target = master.ofType(KM_COMM_STATUS).size() + n;
    QElapsedTimer timer;
    timer.start();
    while (master.ofType(KM_COMM_STATUS).size() < target) {
        if (timer.elapsed() > timeoutMs)
            return false;
        QTest::qWait(5);
    }
    return true;
}

QByteArray frameRecord(const QString &text)
{
    QByteArray record;
    ZorBabelFish::fromCanStrToQbytearray(text, record);
    return record;
}

QString frameText(const QByteArray &record)
{
    QString text;
    ZorBabelFish::fromQbytearrayToCanStr(record, text);
    return text.section(QLatin1Char(','), 0, 2);
}
