// Throughput of messages and CAN frame conversions: how many messages can be
// made and turned into text and back per second, and how many CAN frame
// records are written as frame text and read back per second.
#include "zorbabelfish.h"
#include "zormessage.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <cstdio>
#include <functional>

namespace {

// Runs `step` in batches until at least `minMs` have passed; returns the
// number of steps per second.
double rate(const std::function<void(int)> &step, qint64 minMs = 400)
{
    const int batch = 10000;
    qint64 done = 0;
    QElapsedTimer timer;
    timer.start();
    do {
        for (int i = 0; i < batch; ++i)
            step(i);
        done += batch;
    } while (timer.elapsed() < minMs);
    return double(done) * 1e9 / double(timer.nsecsElapsed());
}

void report(const char *name, double value, const char *unit)
{
    std::printf("%s: %.0f %s\n", name, value, unit);
}

volatile int sink;

} // namespace

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);

    const QString frameText = QStringLiteral("ext 1234abcdh,8,7f 80 81 82 83 84 85 86,513");
    QByteArray record;
    ZorBabelFish::fromCanStrToQbytearray(frameText, record);
    const QString textMsg = QStringLiteral("KM_SETPROPERTY:KS_REQUEST:CycleTime=15");
    const QString frameMsg = QLatin1String("KM_CAN_FRAME:KS_ANSWER:") + frameText;

    report("messages_created", rate([](int i) {
               ZorMessage m(KM_STATUS, KS_INFO, i);
               sink = m.msgId();
           }),
           "msg/s");

    const ZorMessage text(textMsg);
    report("messages_to_text", rate([&](int) { sink = text.toString().size(); }), "msg/s");
    report("messages_from_text", rate([&](int) { sink = ZorMessage(textMsg).msgType(); }), "msg/s");

    const ZorMessage frame(frameMsg);
    report("can_frame_messages_to_text", rate([&](int) { sink = frame.toString().size(); }), "msg/s");
    report("can_frame_messages_from_text", rate([&](int) { sink = ZorMessage(frameMsg).msgType(); }),
           "msg/s");

    report("can_frame_record_to_text", rate([&](int) {
               QString s;
               ZorBabelFish::fromQbytearrayToCanStr(record, s);
               sink = s.size();
           }),
           "frames/s");
    report("can_frame_text_to_record", rate([&](int) {
               QByteArray r;
               ZorBabelFish::fromCanStrToQbytearray(frameText, r);
               sink = r.size();
           }),
           "frames/s");

    ZorBabelFish macros;
    const QString tmpl = QStringLiteral("canid(0x600 + 5),8,2b canunsigned16(0x6040) canunsigned8(0) "
                                        "canunsigned16(15) 00 00");
    report("can_macro_templates_resolved", rate([&](int) {
               QString t = tmpl;
               macros.resolveCanMacros(t);
               sink = t.size();
           }, 200),
           "texts/s");
    return 0;
}
