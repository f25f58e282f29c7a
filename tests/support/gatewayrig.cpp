#include "gatewayrig.h"

#include "zormodcaninterface.h"
#include "zormodstates.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QTimer>

namespace {

// A requester that only talks through its gateway; what comes back is taken
// off its queues so that they never fill.
struct RequesterIdle : Macho::Link<RequesterIdle, ZorModStates::Top>
{
    MACHO_STATE(RequesterIdle)
    void cycle() override
    {
        ZorMessage message;
        while (module()->getMessage(ZorModule::FromSlaves, message)) {
        }
        while (module()->getMessage(ZorModule::FromMaster, message)) {
        }
    }
};

class Requester : public ZorModule
{
public:
    explicit Requester(const QString &label)
    {
        setIdentity(label, QStringLiteral("node"), QStringLiteral("test requester"));
        addGatewayForMasterType(QStringLiteral("canusb"));
    }
    ~Requester() override { stop(); }
    Macho::StateRef rootStateRef() const override { return RequesterIdle::makeStateRef(); }
    int statusPeriod() const override { return 0; }
    // Its state drops everything that comes back: it is not woken for it
    // (tests watch the gateway's signals instead).
    bool wantsFromSlaves(const ZorMessage &) const override { return false; }
};

void shorten(ZorModCanOpenGateway *g)
{
    g->setTiming(ZorModCanOpenGateway::LssSwitchWait, 50);
    g->setTiming(ZorModCanOpenGateway::ScanSettle, 300);
    g->setTiming(ZorModCanOpenGateway::ScanProbeWait, 500);
}

} // namespace

QList<ZorMessage> GatewayRecorder::messages() const
{
    std::lock_guard<std::mutex> locker(mutex);
    return list;
}

QList<ZorMessage> GatewayRecorder::ofType(int type) const
{
    std::lock_guard<std::mutex> locker(mutex);
    QList<ZorMessage> found;
    for (const ZorMessage &m : list) {
        if (m.msgType() == type)
            found << m;
    }
    return found;
}

void GatewayRecorder::clear()
{
    std::lock_guard<std::mutex> locker(mutex);
    list.clear();
}

void GatewayRecorder::record(const ZorMessage &message)
{
    {
        std::lock_guard<std::mutex> locker(mutex);
        list << message;
    }
    emit recorded();
}

bool GatewayRig::waitUntil(GatewayRecorder &recorder, const std::function<bool()> &condition, int timeoutMs)
{
    QElapsedTimer clock;
    clock.start();
    QEventLoop loop;
    QTimer tick;
    tick.setInterval(10);
    QObject::connect(&tick, &QTimer::timeout, &loop, &QEventLoop::quit);
    QObject::connect(&recorder, &GatewayRecorder::recorded, &loop, &QEventLoop::quit);
    tick.start();
    while (!condition()) {
        if (clock.elapsed() >= timeoutMs)
            return false;
        loop.exec();
    }
    return true;
}

void GatewayRig::ModuleDeleter::operator()(ZorModule *m) const
{
    if (m) {
        m->stop();
        delete m;
    }
}

GatewayRig::GatewayRig()
{
    ZorModCanOpenGateway::registerCreator();
}

GatewayRig::~GatewayRig()
{
    for (ZorModule *r : qAsConst(extraRequesters))
        r->stop();
    if (m_requester)
        m_requester->stop();
    if (m_can)
        m_can->stop();
    qDeleteAll(extraRequesters);
    m_requester.reset();
    m_can.reset();
}

bool GatewayRig::start(const QStringList &simArguments)
{
    if (!sim.start(simArguments))
        return false;
    auto *can = new ZorModCanInterface(QStringLiteral("CAN1"), QStringLiteral("canusb"));
    m_can.reset(can);
    can->setProperty(QStringLiteral("Port"), sim.address(), false);
    can->setProperty(QStringLiteral("Baudrate"), QStringLiteral("1M"), false);
    can->start();
    m_requester.reset(new Requester(QStringLiteral("Node1")));
    m_requester->start();
    m_gateway = addRequester(QString(), &fromGateway);
    if (!m_gateway)
        return false;
    connect(m_gateway, &ZorModule::masterOut, &toCanInterface, &GatewayRecorder::record, Qt::DirectConnection);
    // The requester opens the CAN interface through its gateway.
    const ZorMessage open(KM_COMM_OPEN, KS_REQUEST);
    send(open);
    ZorMessage answer;
    waitUntil(fromGateway, [&] {
        for (const ZorMessage &m : fromGateway.ofType(KM_COMM_OPEN)) {
            if (m == open && !m.isRequest()) {
                answer = m;
                return true;
            }
        }
        return false;
    }, 10000);
    canClient = sim.waitForClient();
    return answer.msgState() == KS_ANSWER && canClient >= 0;
}

ZorModCanOpenGateway *GatewayRig::addRequester(const QString &label, GatewayRecorder *recorder)
{
    ZorModule *requester = m_requester.get();
    if (!label.isEmpty()) {
        requester = new Requester(label);
        requester->start();
        extraRequesters << requester;
    }
    requester->connectSlave(m_can.get());
    auto *g = qobject_cast<ZorModCanOpenGateway *>(requester->viaModuleFor(m_can->label()));
    if (!g)
        return nullptr;
    shorten(g);
    connect(g, &ZorModule::slaveOut, recorder, &GatewayRecorder::record, Qt::DirectConnection);
    return g;
}

void GatewayRig::send(const ZorMessage &message, ZorModule *from)
{
    emit (from ? from : m_requester.get())->masterOut(message);
}

ZorMessage GatewayRig::interview(const QString &lines, int timeoutMs)
{
    return interviewFrom(m_requester.get(), fromGateway, lines, timeoutMs);
}

ZorMessage GatewayRig::interviewFrom(ZorModule *requester, GatewayRecorder &recorder, const QString &lines,
                                     int timeoutMs)
{
    ZorMessage request(KM_INTERVIEW, KS_REQUEST, lines);
    request.setOrigin(requester->label());
    const int seen = recorder.ofType(KM_INTERVIEW).size();
    send(request, requester);
    ZorMessage result;
    waitUntil(recorder, [&] {
        const QList<ZorMessage> answers = recorder.ofType(KM_INTERVIEW);
        for (int i = seen; i < answers.size(); ++i) {
            if (answers.at(i) == request && answers.at(i).msgState() != KS_WAITING) {
                result = answers.at(i);
                return true;
            }
        }
        return false;
    }, timeoutMs);
    return result.msgType() == KM_INTERVIEW ? result : ZorMessage();
}

ZorMessage GatewayRig::waitFor(int type, int timeoutMs, int after)
{
    ZorMessage result;
    waitUntil(fromGateway, [&] {
        const QList<ZorMessage> found = fromGateway.ofType(type);
        if (found.size() <= after)
            return false;
        result = found.at(after);
        return true;
    }, timeoutMs);
    return result.msgType() == type ? result : ZorMessage();
}

QStringList GatewayRig::sentFrames()
{
    // The answer of an exchange can reach the test before the bus log of
    // its frames has been read from the gateway's output: a command's
    // answer comes after every line written before it.
    sim.command(QStringLiteral("PING"));
    const QString head = QStringLiteral("BUS c%1 ").arg(canClient);
    QStringList frames;
    const QStringList lines = sim.lines();
    for (int i = busMark; i < lines.size(); ++i) {
        if (lines.at(i).startsWith(head))
            frames << lines.at(i).mid(head.size());
    }
    return frames;
}
