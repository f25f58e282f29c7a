// An operator screen with 100 bound label controls (the demo screen) whose
// objects the table reads every 10 ms: a stand-in module answers every read
// at once with new values. Measured over a few seconds: values delivered from
// the module's answers to the QML screen per second, answers per second, and
// the longest stall of the GUI thread (the gap between 2 ms timer ticks beyond
// their interval). The table reads an object at most every 100 ms, so the
// module's answers, not the bridge, set the pace.
#include "testdommodel.h"
#include "zorcontentuipanel.h"
#include "zortestutil.h"

#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QTemporaryDir>
#include <QTimer>
#include <cstdio>

namespace {

const int Controls = 100;
const int RunMs = 4000;
// The first showing of the screen (building and painting 100 controls) is
// left out of the stall figure, and printed on its own.
const int WarmUpMs = 500;

QString objectsXml()
{
    QString xml = QStringLiteral("<docs><DynamicUi><CANopenObjectList>");
    for (int i = 0; i < Controls; ++i) {
        xml += QStringLiteral("<CANopenObject index=\"%1\" subIndex=\"0\" nodeId=\"1\" name=\"Value %2\" "
                              "objectType=\"7\" dataType=\"7\" accessType=\"rw\" actualValue=\"0\" "
                              "zorUiFormat=\"shape:label;updates:r10\" dynamicUiInstances=\"label,%3,%4\"/>")
                   .arg(0x3000 + i, 4, 16).arg(i).arg(10 + (i % 5) * 210).arg(10 + (i / 5) * 70);
    }
    return xml + QStringLiteral("</CANopenObjectList></DynamicUi></docs>");
}

// The node module's result lines for a read: the object's id and type and a
// value that changes with every answer.
QString answerFor(const QString &request, int round)
{
    QString answer;
    for (const QString &line : request.split(QLatin1Char('\n'))) {
        const QString body = line.section(QLatin1Char('#'), 0, 0).trimmed();
        if (body.count(QLatin1Char(',')) < 2)
            continue;
        answer += body.section(QLatin1Char(','), 0, 1) + QLatin1Char(',') + QString::number(round)
                  + QLatin1Char('\n');
    }
    return answer;
}

} // namespace

int main(int argc, char **argv)
{
    // Rendered by Qt Quick's software renderer: benchmarks run without a
    // display, where no OpenGL context can be made.
    qputenv("QT_QUICK_BACKEND", "software");
    QApplication app(argc, argv);
    QTemporaryDir project;
    QDir().mkpath(project.filePath(QStringLiteral("QML")));
    QFile::copy(ZorTest::sourcePath(QStringLiteral("resources/demo/QML/ZorUiMain.qml")),
                project.filePath(QStringLiteral("QML/ZorUiMain.qml")));
    QDir::setCurrent(project.path());

    TestDomModel model;
    model.setXml(TestDomModel::projectXml({{QStringLiteral("uipanel"), QStringLiteral("Screen"), QString(),
                                            objectsXml()}}));
    ZorContentUiPanel panel;
    panel.setupZorPanel(model.moduleIndex(QStringLiteral("Screen")), &model);
    panel.resize(1100, 1500);
    panel.show();

    // The stand-in module: every read answered in the next turn of the loop.
    int round = 0;
    long answers = 0;
    QObject::connect(&panel, &ZorPanel::msgOut, &panel, [&](const ZorMessage &msg) {
        if (msg.msgType() != KM_OBJLIST_READ || !msg.isRequest())
            return;
        ZorMessage answer(msg);
        answer.setMsgState(KS_ANSWER);
        answer.setData(answerFor(msg.data().toString(), ++round));
        QTimer::singleShot(0, &panel, [&panel, answer, &answers] {
            ++answers;
            panel.msgIn(answer);
        });
    });
    long delivered = 0;
    QObject::connect(panel.bridge(), &ZorQmlInterface::modelValueChanged, [&delivered] { ++delivered; });

    QElapsedTimer clock;
    qint64 lastTick = 0;
    qint64 longestStallUs = 0;
    QTimer ticker;
    ticker.setTimerType(Qt::PreciseTimer);
    QObject::connect(&ticker, &QTimer::timeout, [&] {
        const qint64 now = clock.nsecsElapsed() / 1000;
        if (now > WarmUpMs * 1000)
            longestStallUs = qMax(longestStallUs, now - lastTick - 2000);
        lastTick = now;
    });

    QElapsedTimer firstShow;
    firstShow.start();
    QCoreApplication::processEvents();
    const double firstShowMs = firstShow.nsecsElapsed() / 1e6;

    ZorMessage running(KM_STATUS, KS_INFO, 1);
    running.setOrigin(QStringLiteral("Screen"));
    panel.msgIn(running);
    clock.start();
    ticker.start(2);
    QTimer::singleShot(RunMs, &app, &QCoreApplication::quit);
    app.exec();
    const double seconds = clock.nsecsElapsed() / 1e9;

    std::printf("uipanel_controls: %d count\n", Controls);
    std::printf("uipanel_values_to_qml_per_s: %.0f 1/s\n", delivered / seconds);
    std::printf("uipanel_read_answers_per_s: %.0f 1/s\n", answers / seconds);
    std::printf("uipanel_first_show: %.1f ms\n", firstShowMs);
    std::printf("uipanel_longest_gui_stall: %.1f ms\n", longestStallUs / 1000.0);
    return 0;
}
