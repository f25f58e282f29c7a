#include "testcaninterface.h"

#include "zorbabelfish.h"
#include "zorcandrivertarnnet.h"
#include "zorinterview.h"
#include "zormodstates.h"

#include <memory>

namespace TestCanStates {

struct Open : Macho::Link<Open, ZorModStates::Top>
{
    MACHO_STATE(Open)

    struct Box
    {
        std::unique_ptr<ZorCanDriverTarnNet> driver;
    };

    void exit() override
    {
        if (box().driver)
            box().driver->close();
    }

    bool handleInterviewLine(const ZorInterview &line) override
    {
        if (line.kind() != QLatin1String("CAN"))
            return false;
        QByteArray record;
        if (!ZorBabelFish::fromCanStrToQbytearray(line.request(), record))
            return false;
        module()->postIn(ZorModule::FromMaster, ZorMessage(KM_CAN_FRAME, KS_REQUEST, record));
        return true;
    }

    void cycle() override
    {
        ZorModule *m = module();
        auto *self = static_cast<TestCanInterface *>(m);
        if (!box().driver) {
            box().driver.reset(new ZorCanDriverTarnNet);
            box().driver->setConnectTimeout(2000);
            box().driver->setPollInterval(1);
            if (!box().driver->open(self->port(), 1000000, 0, 0, 0))
                qWarning("TestCanInterface: cannot open %s", qPrintable(self->port()));
            m->setCycleTime(5);
            m->setInterviewPasses(60);
        }
        ZorCanDriverTarnNet &driver = *box().driver;
        m->clearInQueue(ZorModule::FromSlaves);

        // Frames to send go out before the driver waits for received ones.
        bool queued = false;
        ZorMessage message;
        while (m->getMessage(ZorModule::FromMaster, message)) {
            if (message.msgType() != KM_CAN_FRAME || !message.isRequest())
                continue;
            QByteArray record = message.data().toByteArray();
            const bool ok = driver.queueTx(record);
            queued |= ok;
            message.setData(record);
            message.setMsgState(ok ? KS_ANSWER : KS_FAIL);
            sendToMaster(message);
        }
        if (queued)
            driver.flushTx(true);

        for (int reads = 0; reads < 10; ++reads) {
            int count = 0;
            driver.takeRx(count);
            for (int i = 0; i < count; ++i) {
                QByteArray record;
                driver.rxFrame(i, record);
                ZorMessage frame(KM_CAN_FRAME, KS_INFO, record);
                QString text;
                if (hasPendingInterviews() && ZorBabelFish::fromQbytearrayToCanStr(record, text))
                    offerInterviewAnswer(QStringLiteral("CAN"), text.section(QLatin1Char(','), 0, 2), false);
                if (ZorBabelFish::fromQbytearrayToFlags(record) & ZOR_FLAGS_ECHO) {
                    frame.setMsgState(KS_ANSWER);
                    sendToSlaves(frame);
                } else {
                    sendToMaster(frame);
                    sendToSlaves(frame);
                }
            }
            if (count < driver.capacity())
                break;
        }

    }
};

} // namespace TestCanStates

TestCanInterface::TestCanInterface(const QString &label, const QString &port, QObject *parent)
    : ZorModule(parent), m_port(port)
{
    setIdentity(label, QStringLiteral("canusb"), QStringLiteral("test CAN interface"));
}

TestCanInterface::~TestCanInterface()
{
    stop();
}

Macho::StateRef TestCanInterface::rootStateRef() const
{
    return TestCanStates::Open::makeStateRef();
}
