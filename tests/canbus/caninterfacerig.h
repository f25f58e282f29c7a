// A CAN interface module under test with recorders on both sides: the
// module lives in the test's thread (as it lives in the module host's
// thread in the program), so its signals arrive while the test waits with
// QTRY_* or the helpers below.
#pragma once

#include "zorabstractcandriver.h"
#include "zorcandrivertarnnet.h"
#include "zormodcaninterface.h"

#include <QList>
#include <QObject>
#include <QStringList>
#include <memory>
#include <mutex>

// Records every message that reaches its slot.
class MessageLog : public QObject
{
    Q_OBJECT
public:
    QList<ZorMessage> messages() const;
    QList<ZorMessage> ofType(int type) const;
    // The answers (any state but KS_REQUEST) to a request, by its id.
    QList<ZorMessage> answersTo(const ZorMessage &request) const;
    // KM_INFOTEXT texts, KM_STATUS numbers, KM_PLAYER_STATUS indexes in order.
    QStringList infoTexts() const;
    QList<int> statuses() const;
    // The status numbers with periodic repeats folded into one.
    QList<int> statusChanges() const;
    QList<int> playerStatuses() const;
    int lastStatus() const;
    void clear();

public slots:
    void record(const ZorMessage &message);

private:
    mutable std::mutex mutex;
    QList<ZorMessage> list;
};

class CanInterfaceRig
{
public:
    explicit CanInterfaceRig(const QString &type = QStringLiteral("canusb"));
    ~CanInterfaceRig();

    ZorModCanInterface *module() const { return m_module.get(); }
    // Network drivers that reconnect and give up quickly.
    void useQuickNetDriver();
    void setProperty(const QString &name, const QString &value);
    void start();

    // Sends a request from the master and returns it (to find its answers).
    ZorMessage request(int type, const QVariant &data = QVariant());
    // Waits for the first answer to a request; false after timeoutMs.
    bool waitForAnswer(const ZorMessage &request, int timeoutMs = 20000);
    // Waits until the master has seen this status number.
    bool waitForStatus(int status, int timeoutMs = 20000);
    bool waitForInfoText(const QString &text, int timeoutMs = 20000);
    // Opens against a gateway address at the bit rate; true when answered
    // KS_ANSWER.
    bool open(const QString &port, const QString &bitRate);
    // Waits until the master has n more KM_COMM_STATUS reports than now.
    bool waitForCommStatusReports(int n, int timeoutMs = 20000);

    MessageLog master;
    MessageLog slaves;

private:
    std::unique_ptr<ZorModCanInterface, ZorModuleDeleter> m_module;
};

// The frame record of a frame text ("601h,8,40 00 10 00 00 00 00 00").
QByteArray frameRecord(const QString &text);
// The frame text of a record, time stamp left out.
QString frameText(const QByteArray &record);

// A driver whose adapter always wants a firmware update, which starts and
// then keeps reporting the given progress (0: it stopped without finishing;
// between 1 and 99: it never ends).
class FirmwareUpdateDriver : public ZorAbstractCanDriver
{
public:
    explicit FirmwareUpdateDriver(int progress) : m_progress(progress) {}
    bool open(const QString &, int, int, int, int) override { return opened = true; }
    void close() override { opened = false; }
    bool takeRx(int &count) override { count = 0; return true; }
    bool rxFrame(int, QByteArray &) override { return false; }
    bool queueTx(QByteArray &) override { return false; }
    bool flushTx(bool) override { return false; }
    bool statusText(QString &text, int &) override { text.clear(); return true; }
    QString lastErrorText() override { return QString(); }
    bool startFirmwareUpdate(const QString &, QString &fileName) override
    {
        fileName = QStringLiteral("adapter.hex");
        return true;
    }
    int firmwareUpdateProgress() override { return m_progress; }
    QString firmwareVersion() override { return QStringLiteral("0.9"); }
    bool firmwareUpdateNeeded(const QString &) override { return true; }
    bool notFailed() override { return true; }
    bool isOpen() override { return opened; }
    bool failed() override { return false; }
    int capacity() override { return 1; }
    bool opened = false;

private:
    int m_progress;
};
