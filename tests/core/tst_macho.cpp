// The state-machine runtime on a small tree of traced states:
//
//   Top (box)
//     Root            init -> Sub
//       Sub (box)
//       Sibling
//         Leaf (box)
//         Quiet       no hooks of its own
//       Greedy        entry requests Other (must have no effect)
//       Other
//
// Every hook appends "<hook> <state>" to a trace; events reach the current
// state through an access object, as the module run loop does.
#include "zortest.h"
#include "macho.h"

#include <QtTest>

namespace MachoTest {

QStringList trace;

struct Top : Macho::Link<Top, Macho::TopBase<Top>> {
    MACHO_STATE(Top)
    struct Box { int counter = 0; };
    void entry() override { trace << "entry Top"; }
    void exit() override { trace << "exit Top"; }
    void init() override { trace << "init Top"; }
    virtual void event(const QString &) {}
    int &counter() { return box().counter; }
};

struct Root : Macho::Link<Root, Top> {
    MACHO_STATE(Root)
    void entry() override { trace << "entry Root"; }
    void exit() override { trace << "exit Root"; }
    void init() override;
    void event(const QString &e) override;
};

struct Sub : Macho::Link<Sub, Root> {
    MACHO_STATE(Sub)
    struct Box { int value = 7; };
    void entry() override { trace << QStringLiteral("entry Sub %1").arg(box().value); }
    void exit() override { trace << "exit Sub"; }
    void init() override { trace << "init Sub"; }
    void event(const QString &e) override;
};

struct Sibling : Macho::Link<Sibling, Root> {
    MACHO_STATE(Sibling)
    void entry() override { trace << "entry Sibling"; }
    void exit() override { trace << "exit Sibling"; }
    void init() override { trace << "init Sibling"; }
};

struct Leaf : Macho::Link<Leaf, Sibling> {
    MACHO_STATE(Leaf)
    struct Box { QString text = QStringLiteral("fresh"); };
    void entry() override { trace << "entry Leaf " + box().text; box().text = "used"; }
    void exit() override { trace << "exit Leaf"; }
    void init() override { trace << "init Leaf"; }
    void event(const QString &e) override;
};

struct Quiet : Macho::Link<Quiet, Sibling> {
    MACHO_STATE(Quiet)
};

struct Other : Macho::Link<Other, Root> {
    MACHO_STATE(Other)
    void entry() override { trace << "entry Other"; }
    void exit() override { trace << "exit Other"; }
    void init() override { trace << "init Other"; }
};

struct Greedy : Macho::Link<Greedy, Root> {
    MACHO_STATE(Greedy)
    void entry() override { trace << "entry Greedy"; requestTransition<Other>(); }
    void exit() override { trace << "exit Greedy"; }
    void init() override { trace << "init Greedy"; }
};

void Root::init()
{
    trace << "init Root";
    requestTransition<Sub>();
}

void Root::event(const QString &e)
{
    if (e == "toLeaf")
        requestTransition<Leaf>();
    else if (e == "toRoot")
        requestTransition<Root>();
    else if (e == "toGreedy")
        requestTransition<Greedy>();
    else if (e == "toQuiet")
        requestTransition<Quiet>();
    else if (e == "twice") {
        requestTransition<Sibling>();
        requestTransition<Other>();
    } else if (e == "byRef") {
        requestRefTransition(Other::makeStateRef());
    }
}

void Sub::event(const QString &e)
{
    if (e == "self")
        requestTransition<Sub>();
    else if (e == "poke")
        box().value = 99;
    else
        Root::event(e);
}

void Leaf::event(const QString &e)
{
    if (e == "toSub")
        requestTransition<Sub>();
    else if (e == "toSibling")
        requestTransition<Sibling>();
    else
        Root::event(e);
}

} // namespace MachoTest

// A second tree whose root has the same class name as the first one's.
namespace MachoOther {
struct Root : Macho::Link<Root, MachoTest::Top> {
    MACHO_STATE(Root)
};
}

using namespace MachoTest;

class TestMacho : public QObject
{
    Q_OBJECT

    static void send(Macho::StateMachine &m, const QString &event)
    {
        Macho::StateMachine::Access access(m);
        access.state<Top>().event(event);
    }

private slots:
    void init() { trace.clear(); }

    void startEntersDownToTheInitialSubstate()
    {
        Macho::StateMachine m(Root::makeStateRef());
        QCOMPARE(trace, QStringList({"entry Top", "entry Root", "init Root", "entry Sub 7", "init Sub"}));
        QVERIFY(m.inState<Sub>());
        QVERIFY(m.inState<Root>());
        QVERIFY(m.inState<Top>());
        QVERIFY(!m.inState<Sibling>());
        QCOMPARE(QString(m.currentStateName()), QString("Sub"));
    }

    void transitionsExitAndEnterOnlyWhatTheyMust_data()
    {
        QTest::addColumn<QStringList>("events");
        QTest::addColumn<QStringList>("expected");
        QTest::addColumn<QString>("finalState");
        QTest::newRow("self") << QStringList{"self"}
            << QStringList{"exit Sub", "entry Sub 7", "init Sub"} << "Sub";
        QTest::newRow("to parent") << QStringList{"toRoot"}
            << QStringList{"exit Sub", "exit Root", "entry Root", "init Root", "entry Sub 7", "init Sub"} << "Sub";
        QTest::newRow("to cousin") << QStringList{"toLeaf"}
            << QStringList{"exit Sub", "entry Sibling", "entry Leaf fresh", "init Leaf"} << "Leaf";
        QTest::newRow("to ancestor's sibling") << QStringList{"toLeaf", "toSub"}
            << QStringList{"exit Sub", "entry Sibling", "entry Leaf fresh", "init Leaf",
                           "exit Leaf", "exit Sibling", "entry Sub 7", "init Sub"} << "Sub";
        QTest::newRow("to own parent") << QStringList{"toLeaf", "toSibling"}
            << QStringList{"exit Sub", "entry Sibling", "entry Leaf fresh", "init Leaf",
                           "exit Leaf", "exit Sibling", "entry Sibling", "init Sibling"} << "Sibling";
        QTest::newRow("two requests, last wins") << QStringList{"twice"}
            << QStringList{"exit Sub", "entry Other", "init Other"} << "Other";
        QTest::newRow("request in entry is dropped") << QStringList{"toGreedy"}
            << QStringList{"exit Sub", "entry Greedy", "init Greedy"} << "Greedy";
        QTest::newRow("by reference") << QStringList{"byRef"}
            << QStringList{"exit Sub", "entry Other", "init Other"} << "Other";
        QTest::newRow("no request") << QStringList{"nothing"} << QStringList{} << "Sub";
        QTest::newRow("hooks are not inherited") << QStringList{"toQuiet", "toRoot"}
            << QStringList{"exit Sub", "entry Sibling", "exit Sibling", "exit Root", "entry Root",
                           "init Root", "entry Sub 7", "init Sub"} << "Sub";
    }

    void transitionsExitAndEnterOnlyWhatTheyMust()
    {
        QFETCH(QStringList, events);
        QFETCH(QStringList, expected);
        QFETCH(QString, finalState);
        Macho::StateMachine m(Root::makeStateRef());
        trace.clear();
        for (const QString &e : events)
            send(m, e);
        QCOMPARE(trace, expected);
        QCOMPARE(QString(m.currentStateName()), finalState);
    }

    void descendantTransitionEntersOnlyBelow()
    {
        // Sibling -> Leaf: Sibling stays active.
        Macho::StateMachine m(Root::makeStateRef());
        send(m, "toLeaf");
        send(m, "toSibling");
        trace.clear();
        send(m, "toLeaf");
        QCOMPARE(trace, QStringList({"entry Leaf fresh", "init Leaf"}));
    }

    void boxesAreFreshOnEveryEntry()
    {
        Macho::StateMachine m(Root::makeStateRef());
        send(m, "poke");       // Sub's box value 7 -> 99
        trace.clear();
        send(m, "self");
        QCOMPARE(trace.value(1), QString("entry Sub 7"));
        send(m, "toLeaf");     // Leaf sets its text to "used" on entry
        send(m, "toSub");
        trace.clear();
        send(m, "toLeaf");
        QCOMPARE(trace.value(2), QString("entry Leaf fresh"));

        // A state without data shares the sentinel; a state with data has its own.
        Macho::_StateInstance *sibling = m.instanceAt(Sibling::stateKey().id);
        QVERIFY(sibling);
        QCOMPARE(sibling->box(), static_cast<void *>(&Macho::sharedEmptyData));
        Macho::_StateInstance *leaf = m.instanceAt(Leaf::stateKey().id);
        QVERIFY(leaf->hasLiveBox());
        // The top state's box lives as long as the machine runs.
        {
            Macho::StateMachine::Access a(m);
            a.state<Top>().counter() = 5;
        }
        send(m, "toRoot");
        Macho::StateMachine::Access a(m);
        QCOMPARE(a.state<Top>().counter(), 5);
    }

    void instancesAreCreatedOnFirstUseWithTheirAncestors()
    {
        Macho::StateMachine m(Root::makeStateRef());
        QCOMPARE(m.instanceCount(), Macho::stateCount());
        QVERIFY(!m.instanceAt(Leaf::stateKey().id));
        QVERIFY(!m.instanceAt(Sibling::stateKey().id));
        QVERIFY(!m.instanceAt(MachoOther::Root::stateKey().id));
        send(m, "toLeaf");
        Macho::_StateInstance *leaf = m.instanceAt(Leaf::stateKey().id);
        Macho::_StateInstance *sibling = m.instanceAt(Sibling::stateKey().id);
        QVERIFY(leaf && sibling);
        QCOMPARE(leaf->parent(), sibling);
        QCOMPARE(sibling->parent(), m.instanceAt(Root::stateKey().id));
        QCOMPARE(m.instanceAt(Top::stateKey().id)->parent(), &m.rootInstance());
    }

    void sameNameInAnotherNamespaceIsAnotherState()
    {
        QVERIFY(&MachoOther::Root::stateKey() != &MachoTest::Root::stateKey());
        QCOMPARE(QString(MachoOther::Root::stateKey().name()), QString("Root"));
        QVERIFY(MachoOther::Root::stateKey().id != MachoTest::Root::stateKey().id);
        Macho::StateMachine m(MachoOther::Root::makeStateRef());
        QVERIFY(m.inState<MachoOther::Root>());
        QVERIFY(!m.inState<MachoTest::Root>());
    }

    void shutdownExitsUpToAndIncludingTop()
    {
        Macho::StateMachine m(Root::makeStateRef());
        send(m, "toLeaf");
        trace.clear();
        m.shutdown();
        QCOMPARE(trace, QStringList({"exit Leaf", "exit Sibling", "exit Root", "exit Top"}));
        QVERIFY(!m.isRunning());
        QVERIFY(!m.instanceAt(Top::stateKey().id)->hasLiveBox());
    }

    void destroyingARunningMachineShutsItDown()
    {
        {
            Macho::StateMachine m(Root::makeStateRef());
            trace.clear();
        }
        QCOMPARE(trace, QStringList({"exit Sub", "exit Root", "exit Top"}));
    }
};

ZOR_TEST(TestMacho)
#include "tst_macho.moc"
