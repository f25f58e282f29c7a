#include "testmodule.h"


namespace {
TestModule *testModule(ZorModStates::Top &state)
{
    return static_cast<TestModule *>(state.module());
}

// The module is not attached while the machine starts: trace through a
// thread-local pointer that the module sets around its start.
thread_local TestModule *startingModule = nullptr;

void traceHook(ZorModStates::Top &state, const QString &hook)
{
    TestModule *m = testModule(state);
    TestModule *target = m ? m : startingModule;
    if (target)
        target->trace(hook + (m ? QString() : QStringLiteral(" (no module)")));
}
}

namespace TestModStates {

void Root::entry() { traceHook(*this, QStringLiteral("entry Root")); }
void Root::exit() { traceHook(*this, QStringLiteral("exit Root")); }
void Root::init()
{
    traceHook(*this, QStringLiteral("init Root, property '%1'").arg(property(QStringLiteral("Port"))));
    requestTransition<Idle>();
}

void Idle::entry() { traceHook(*this, QStringLiteral("entry Idle")); }
void Idle::exit() { traceHook(*this, QStringLiteral("exit Idle")); }
void Idle::init() { traceHook(*this, QStringLiteral("init Idle")); }

void Idle::cycle()
{
    TestModule *m = testModule(*this);
    if (!m)
        return;
    if (m->cycles() == 0)
        m->trace(QStringLiteral("first cycle, property '%1'").arg(property(QStringLiteral("Port"))));
    m->countCycle();
    if (m->answerRequests) {
        ZorMessage message;
        while (m->getMessage(ZorModule::FromMaster, message)) {
            if (message.isRequest()) {
                message.setMsgState(KS_ANSWER);
                sendToMaster(message, false);
            }
        }
        while (m->getMessage(ZorModule::FromSlaves, message)) {
            if (message.isRequest()) {
                message.setMsgState(KS_ANSWER);
                sendToSlaves(message, false);
            }
        }
    }
    if (m->onCycle)
        m->onCycle(*this);
}

bool Idle::handleInterviewLine(const ZorInterview &interview)
{
    TestModule *m = testModule(*this);
    return m && m->onInterviewLine ? m->onInterviewLine(interview) : false;
}

} // namespace TestModStates

TestModule::TestModule(QObject *parent)
    : ZorModule(parent)
{
}

TestModule::TestModule(const QString &label, const QString &type, const QString &description,
                       QObject *parent)
    : ZorModule(parent)
{
    setIdentity(label, type, description);
}

TestModule::~TestModule()
{
    // Stop before this class's members go away.
    stop();
}

Macho::StateRef TestModule::rootStateRef() const
{
    startingModule = const_cast<TestModule *>(this);
    return TestModStates::Root::makeStateRef();
}

bool TestModule::propertyChanged(const QString &key, QString &value)
{
    return onPropertyChanged ? onPropertyChanged(key, value) : true;
}

void TestModule::trace(const QString &line)
{
    std::lock_guard<std::mutex> locker(traceMutex);
    lines << line;
}

QStringList TestModule::traceLines() const
{
    std::lock_guard<std::mutex> locker(traceMutex);
    return lines;
}

int TestModule::cycles() const
{
    std::lock_guard<std::mutex> locker(traceMutex);
    return cycleCount;
}

void TestModule::countCycle()
{
    std::lock_guard<std::mutex> locker(traceMutex);
    ++cycleCount;
}

QList<ZorMessage> MessageRecorder::messages() const
{
    std::lock_guard<std::mutex> locker(mutex);
    return list;
}

QList<ZorMessage> MessageRecorder::ofType(int type) const
{
    std::lock_guard<std::mutex> locker(mutex);
    QList<ZorMessage> result;
    for (const ZorMessage &m : list) {
        if (m.msgType() == type)
            result << m;
    }
    return result;
}

void MessageRecorder::clear()
{
    std::lock_guard<std::mutex> locker(mutex);
    list.clear();
}

void MessageRecorder::record(const ZorMessage &message)
{
    std::lock_guard<std::mutex> locker(mutex);
    list << message;
}
