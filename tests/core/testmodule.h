// A module for tests of the module framework: two states (Root, its substate
// Idle) that trace their hooks, and knobs that the tests set before the
// module starts.
#pragma once

#include "zormodstates.h"
#include "zormodule.h"

#include <mutex>
#include <QObject>
#include <QStringList>
#include <functional>

class ZorInterview;

namespace TestModStates {

struct Root : Macho::Link<Root, ZorModStates::Top>
{
    MACHO_STATE(Root)
    void entry() override;
    void exit() override;
    void init() override;
};

struct Idle : Macho::Link<Idle, Root>
{
    MACHO_STATE(Idle)
    void entry() override;
    void exit() override;
    void init() override;
    void cycle() override;
    bool handleInterviewLine(const ZorInterview &interview) override;
};

} // namespace TestModStates

class TestModule : public ZorModule
{
    Q_OBJECT
public:
    explicit TestModule(QObject *parent = nullptr);
    TestModule(const QString &label, const QString &type, const QString &description = QString(),
               QObject *parent = nullptr);
    ~TestModule() override;

    Macho::StateRef rootStateRef() const override;
    int statusPeriod() const override { return period; }
    bool statusToSlaves() const override { return toSlaves; }
    QString acceptedSlaveTypes() const override { return slaveTypes; }
    bool refusesMaster() const override { return refuses; }
    bool oneInterviewPerPass() const override { return onePerPass; }
    bool propertyChanged(const QString &key, QString &value) override;
    bool claimsSlaveAnswer(const ZorMessage &message) override { return claims && claims(message); }
    int frameBacklogLimit() const override { return frameLimit; }
    int slaveQueueLimit() const override { return slaveLimit > 0 ? slaveLimit : ZorModule::slaveQueueLimit(); }

    // Knobs, set before the thread starts.
    int period = 1000;
    bool toSlaves = false;
    bool refuses = false;
    bool onePerPass = false;
    int frameLimit = 0;
    int slaveLimit = 0;   // 0: the base's
    QString slaveTypes;
    // Answer every request taken from the queues (KS_ANSWER, data unchanged).
    bool answerRequests = false;
    // Called in every cycle of the Idle state (module thread).
    std::function<void(ZorModStates::Top &state)> onCycle;
    // Called for every interview line (module thread, interview mutex held).
    std::function<bool(const ZorInterview &line)> onInterviewLine;
    // Asked for the interview answers a slave hands over directly (the
    // slave's thread); none are claimed without it.
    std::function<bool(const ZorMessage &message)> claims;
    // Called by propertyChanged (any thread).
    std::function<bool(const QString &key, QString &value)> onPropertyChanged;

    void trace(const QString &line);
    QStringList traceLines() const;
    int cycles() const;
    void countCycle();

private:
    mutable std::mutex traceMutex;
    QStringList lines;
    int cycleCount = 0;
};

// Records every message that reaches its slot.
class MessageRecorder : public QObject
{
    Q_OBJECT
public:
    QList<ZorMessage> messages() const;
    QList<ZorMessage> ofType(int type) const;
    int count(int type) const { return ofType(type).size(); }
    void clear();

public slots:
    void record(const ZorMessage &message);

private:
    mutable std::mutex mutex;
    QList<ZorMessage> list;
};
