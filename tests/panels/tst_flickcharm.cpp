#include "flickcharm.h"
#include "zortest.h"

#include <QApplication>
#include <QMouseEvent>
#include <QScrollArea>
#include <QScrollBar>
#include <QTest>

namespace {

// Records the mouse presses and releases that get past the charm.
class ClickRecorder : public QObject
{
public:
    QList<QPair<QEvent::Type, QPoint>> seen;
    bool eventFilter(QObject *, QEvent *event) override
    {
        if (event->type() == QEvent::MouseButtonPress || event->type() == QEvent::MouseButtonRelease
            || event->type() == QEvent::MouseMove || event->type() == QEvent::MouseButtonDblClick)
            seen.append({event->type(), static_cast<QMouseEvent *>(event)->pos()});
        return false;
    }
};

} // namespace

class TestFlickCharm : public QObject
{
    Q_OBJECT

    QScrollArea *area = nullptr;
    FlickCharm *charm = nullptr;
    ClickRecorder *recorder = nullptr;

    QWidget *viewport() const { return area->viewport(); }
    int v() const { return area->verticalScrollBar()->value(); }

    void send(QEvent::Type type, const QPoint &pos, Qt::MouseButtons buttons,
              Qt::KeyboardModifiers modifiers = Qt::NoModifier)
    {
        const Qt::MouseButton button = type == QEvent::MouseMove ? Qt::NoButton : Qt::LeftButton;
        QMouseEvent event(type, pos, viewport()->mapToGlobal(pos), button, buttons, modifiers);
        QApplication::sendEvent(viewport(), &event);
    }
    void press(const QPoint &pos) { send(QEvent::MouseButtonPress, pos, Qt::LeftButton); }
    void release(const QPoint &pos) { send(QEvent::MouseButtonRelease, pos, Qt::NoButton); }
    void move(const QPoint &pos) { send(QEvent::MouseMove, pos, Qt::LeftButton); }

    // A drag upward in steps of `step` pixels every `everyMs` ms, released
    // at its end: the content glides upward (the bar's value grows).
    void flickUp(int steps, int step, int everyMs)
    {
        QPoint pos(100, 150);
        press(pos);
        for (int i = 0; i < steps; ++i) {
            QTest::qWait(everyMs);   // time must pass for the pointer to have a speed
            pos.ry() -= step;
            move(pos);
        }
        release(pos);
    }

private slots:
    void init()
    {
        area = new QScrollArea;
        auto *content = new QWidget;
        content->setFixedSize(400, 20000);
        area->setWidget(content);
        area->resize(200, 200);
        recorder = new ClickRecorder;
        // Filters run newest first: the recorder sees what the charm lets pass.
        area->viewport()->installEventFilter(recorder);
        charm = new FlickCharm;
        charm->attachTo(area);
        area->show();
        QVERIFY(QTest::qWaitForWindowExposed(area));
        QVERIFY(area->verticalScrollBar()->maximum() > 10000);
        area->verticalScrollBar()->setValue(5000);
    }
    void cleanup()
    {
        delete area;
        delete charm;
        delete recorder;
    }

    void attachingHidesTheScrollBarsAndPlainWidgetsOnlyWarn()
    {
        QCOMPARE(area->verticalScrollBarPolicy(), Qt::ScrollBarAlwaysOff);
        QCOMPARE(area->horizontalScrollBarPolicy(), Qt::ScrollBarAlwaysOff);
        QWidget plain;
        QTest::ignoreMessage(QtWarningMsg,
                             "FlickCharm only works on QAbstractScrollArea (and derived classes)");
        QTest::ignoreMessage(QtWarningMsg, "or QWebView (and derived classes)");
        charm->attachTo(&plain);
    }

    void aPlainClickReachesTheViewAfterwards()
    {
        press(QPoint(30, 40));
        release(QPoint(31, 41));
        QVERIFY(recorder->seen.isEmpty());   // both swallowed ...
        QCoreApplication::processEvents();
        // ... and posted again at the press position.
        QCOMPARE(recorder->seen.size(), 2);
        QCOMPARE(recorder->seen.at(0).first, QEvent::MouseButtonPress);
        QCOMPARE(recorder->seen.at(1).first, QEvent::MouseButtonRelease);
        QCOMPARE(recorder->seen.at(0).second, QPoint(30, 40));
        QCOMPARE(recorder->seen.at(1).second, QPoint(30, 40));
        QCOMPARE(v(), 5000);
        QCOMPARE(charm->stateOf(area), FlickCharm::Idle);
    }

    void dragMovesTheContentWithThePointerAndGivesNoClick_data()
    {
        QTest::addColumn<int>("dy");
        QTest::newRow("upward") << -50;
        QTest::newRow("downward") << 50;
    }
    void dragMovesTheContentWithThePointerAndGivesNoClick()
    {
        QFETCH(int, dy);
        press(QPoint(100, 100));
        move(QPoint(100, 100 + dy / 25));     // within the click slop
        QCOMPARE(charm->stateOf(area), FlickCharm::Idle);
        move(QPoint(100, 100 + dy));
        QCOMPARE(charm->stateOf(area), FlickCharm::Dragging);
        QCOMPARE(v(), 5000 - dy);
        release(QPoint(100, 100 + dy));
        QCoreApplication::processEvents();
        QVERIFY(recorder->seen.isEmpty());
    }

    void aFlickGlidesSlowsDownAndStops()
    {
        flickUp(4, 10, 20);
        QCOMPARE(charm->stateOf(area), FlickCharm::Gliding);
        const QPoint speed = charm->speedOf(area);
        QVERIFY2(speed.y() < -100, qPrintable(QString::number(speed.y())));
        QVERIFY(charm->isTicking());
        const int released = v();
        QTRY_VERIFY(charm->speedOf(area).y() > speed.y());   // slower
        QTRY_COMPARE_WITH_TIMEOUT(charm->stateOf(area), FlickCharm::Idle, 4000);
        QVERIFY(v() > released);
        QVERIFY(!charm->isTicking());
    }

    void aGlideStopsAtTheEndOfTheScrollBar()
    {
        area->verticalScrollBar()->setValue(area->verticalScrollBar()->maximum() - 5);
        flickUp(4, 10, 20);
        QTRY_COMPARE(charm->stateOf(area), FlickCharm::Idle);
        QCOMPARE(v(), area->verticalScrollBar()->maximum());
        QTRY_VERIFY(!charm->isTicking());
    }

    void holdingAGlideStillTurnsItIntoADrag()
    {
        flickUp(4, 10, 20);
        QCOMPARE(charm->stateOf(area), FlickCharm::Gliding);
        press(QPoint(100, 100));
        QCOMPARE(charm->stateOf(area), FlickCharm::Caught);
        QTRY_COMPARE(charm->stateOf(area), FlickCharm::Dragging);
        QCOMPARE(charm->speedOf(area), QPoint());
        // Let go: no glide, no click.
        release(QPoint(100, 100));
        QTRY_COMPARE(charm->stateOf(area), FlickCharm::Idle);
        QVERIFY(recorder->seen.isEmpty());
    }

    void withAModifierAndForDoubleClicks()
    {
        send(QEvent::MouseButtonPress, QPoint(5, 6), Qt::LeftButton, Qt::ShiftModifier);
        send(QEvent::MouseMove, QPoint(5, 60), Qt::LeftButton, Qt::ShiftModifier);
        send(QEvent::MouseButtonRelease, QPoint(5, 60), Qt::NoButton, Qt::ShiftModifier);
        QCOMPARE(recorder->seen.size(), 3);   // passed at once, unchanged
        QCOMPARE(v(), 5000);
        recorder->seen.clear();
        send(QEvent::MouseButtonDblClick, QPoint(5, 6), Qt::LeftButton);
        // Moves with another button pass.
        send(QEvent::MouseMove, QPoint(9, 9), Qt::RightButton);
        QCOMPARE(recorder->seen.size(), 1);
        QCOMPARE(recorder->seen.at(0).first, QEvent::MouseMove);
    }
};

ZOR_TEST(TestFlickCharm)
#include "tst_flickcharm.moc"
