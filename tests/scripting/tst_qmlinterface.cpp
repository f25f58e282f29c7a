// The QML bridge: message texts both ways, values into the table and batched
// back, the table following the screen's controls, control creation, files
// below the project folder only, and the contract as a QML screen calls it.
#include "screenfixture.h"
#include "zorqmlinterface.h"
#include "zortest.h"

#include <QQmlContext>
#include <QQmlEngine>
#include <QQuickItem>
#include <QQuickWidget>

using ScreenFixture::uiTable;

class TestQmlInterface : public QObject
{
    Q_OBJECT

    QTemporaryDir project;
    QString savedCurrent;

    static QString id60ff() { return QStringLiteral("001.60ffh.00h"); }
    static QString id1017() { return QStringLiteral("001.1017h.00h"); }
    static QString id2000() { return QStringLiteral("001.2000h.00h"); }

    // A screen whose controls are what its property "controls" says.
    QString writeCollectingScreen()
    {
        const QString path = project.filePath("QML/collect.qml");
        ScreenFixture::writeText(path, R"(import QtQuick 2.15
Item {
    property string controls: ""
    function collectChildControlData() { return controls }
})");
        return path;
    }

    QStringList instancesColumn(const ZorObjEditModel &table) const
    {
        QStringList rows;
        for (int r = 0; r < table.rowCount(); ++r)
            rows << table.index(r, 4).data().toString() + "=" + table.index(r, 14).data().toString();
        return rows;
    }

private slots:
    void initTestCase()
    {
        QVERIFY(project.isValid());
        savedCurrent = QDir::currentPath();
        QVERIFY(QDir::setCurrent(project.path()));
    }
    void cleanupTestCase() { QDir::setCurrent(savedCurrent); }

    void messagesFromQml_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<int>("type");
        QTest::addColumn<int>("state");
        QTest::addColumn<QString>("data");
        QTest::addColumn<QString>("recipient");
        QTest::newRow("no recipient") << ":KM_START:KS_REQUEST" << int(KM_START) << int(KS_REQUEST)
                                      << QString() << QString();
        QTest::newRow("blank recipient, data kept") << "  :KM_SETPROPERTY:KS_REQUEST:NodeId= 5"
                                                    << int(KM_SETPROPERTY) << int(KS_REQUEST)
                                                    << "NodeId= 5" << QString();
        QTest::newRow("recipient: whole text passed on")
            << " Drive1 :KM_START:KS_REQUEST" << int(KM_MASTER_OUT) << int(KS_REQUEST)
            << " Drive1 :KM_START:KS_REQUEST" << QString();
        QTest::newRow("recipient with undefined type still goes")
            << "CAN1:nonsense" << int(KM_MASTER_OUT) << int(KS_REQUEST) << "CAN1:nonsense" << QString();
        QTest::newRow("undefined, no recipient") << ":KM_UNDEFINED:KS_REQUEST:x" << -1 << 0 << QString()
                                                 << QString();
        QTest::newRow("unknown name, no recipient") << ":KM_NOSUCH:KS_REQUEST" << -1 << 0 << QString()
                                                    << QString();
        QTest::newRow("empty") << "" << -1 << 0 << QString() << QString();
    }
    void messagesFromQml()
    {
        QFETCH(QString, text);
        QFETCH(int, type);
        QFETCH(int, state);
        QFETCH(QString, data);
        ZorQmlInterface bridge;
        QList<ZorMessage> out;
        connect(&bridge, &ZorQmlInterface::zorMessageOut, this, [&](ZorMessage m) { out << m; });
        bridge.qmlMessageStrOut(text);
        if (type < 0) {
            QVERIFY(out.isEmpty());
            return;
        }
        QCOMPARE(out.size(), 1);
        QCOMPARE(out.at(0).msgType(), type);
        QCOMPARE(out.at(0).msgState(), state);
        QCOMPARE(out.at(0).data().toString(), data);
        QVERIFY(!out.at(0).hasRecipient());
    }

    void moduleMessagesReachQmlAsText()
    {
        ZorQmlInterface bridge;
        QSignalSpy spy(&bridge, &ZorQmlInterface::messageStrIn);
        ZorMessage status(KM_STATUS, KS_INFO, 1200);
        status.setOrigin("Node1");
        bridge.zorMessageIn(status);
        ZorMessage answer(KM_GETPROPERTY, KS_ANSWER, "NodeId=5");
        answer.setRecipient("Node1");
        bridge.zorMessageIn(answer);
        QCOMPARE(spy.count(), 2);
        QCOMPARE(spy.at(0).at(0).toString(), QStringLiteral("Node1::KM_STATUS:KS_INFO:1200"));
        QCOMPARE(spy.at(1).at(0).toString(), QStringLiteral(":Node1:KM_GETPROPERTY:KS_ANSWER:NodeId=5"));
    }

    void valuesFromQmlGoToTheTable()
    {
        auto table = uiTable({R"(index="60FF" name="Target" actualValue="0")"});
        ZorQmlInterface bridge;
        bridge.qmlValueChanged(id60ff(), "42"); // no table bound yet: nothing happens
        QCOMPARE(table->index(0, 5).data().toString(), QStringLiteral("0"));
        bridge.setModel(table.get());
        bridge.qmlValueChanged("001.60FFh.00h", "42");
        bridge.qmlValueChanged("001.6040h.00h", "7"); // not in the table
        QCOMPARE(table->index(0, 5).data().toString(), QStringLiteral("42"));
        QCOMPARE(table->index(0, 5).data(ZorObjEditModel::StatusCodeRole).toInt(),
                 int(ZorObjEditModel::StatusBusy));
        QCOMPARE(table->rowCount(), 1);
    }

    void valueChangesAreBatched()
    {
        auto table = uiTable({R"(index="2000" name="A" actualValue="0")",
                                          R"(index="1017" name="B" actualValue="0")"});
        ZorQmlInterface bridge;
        bridge.setModel(table.get());
        QSignalSpy spy(&bridge, &ZorQmlInterface::modelValueChanged);
        const QModelIndex a = table->findDataObject(id2000()).siblingAtColumn(5);
        const QModelIndex b = table->findDataObject(id1017()).siblingAtColumn(5);
        // Values read from the node: three for A in one burst, one for B.
        table->setData(a, "1", ZorObjEditModel::RawValueRole);
        table->setData(a, "2", ZorObjEditModel::RawValueRole);
        table->setData(b, "9", ZorObjEditModel::RawValueRole);
        table->setData(a, "3", ZorObjEditModel::RawValueRole);
        QVERIFY(spy.wait(5000));
        QTest::qWait(50);
        QCOMPARE(spy.count(), 2);
        // In the order of the ids, each with its last value.
        QCOMPARE(spy.at(0), QVariantList({id1017(), "9"}));
        QCOMPARE(spy.at(1), QVariantList({id2000(), "3"}));

        // A good status sends the value again; a failed one does not.
        spy.clear();
        table->setData(a, ZorObjEditModel::StatusError, ZorObjEditModel::StatusCodeRole);
        table->setData(b, ZorObjEditModel::StatusOk, ZorObjEditModel::StatusCodeRole);
        QVERIFY(spy.wait(5000));
        QTest::qWait(50);
        QCOMPARE(spy.count(), 1);
        QCOMPARE(spy.at(0), QVariantList({id1017(), "9"}));

        // Unbound: the table's changes reach QML no more.
        spy.clear();
        bridge.clearModel();
        table->setData(a, "4", ZorObjEditModel::RawValueRole);
        QTest::qWait(100);
        QCOMPARE(spy.count(), 0);
    }

    void uiFormatEntries_data()
    {
        QTest::addColumn<QString>("format");
        QTest::addColumn<QVariantMap>("entries");
        QTest::newRow("two keys") << "shape:label; updates:r1000;"
                                  << QVariantMap{{"shape", "label"}, {"updates", "r1000"}};
        QTest::newRow("keys folded, values trimmed")
            << " Shape : Slider ;TYPE:dial" << QVariantMap{{"shape", "Slider"}, {"type", "dial"}};
        QTest::newRow("two colons or none ignored")
            << "shape:label; pos:1:2; lonely; min:" << QVariantMap{{"shape", "label"}, {"min", ""}};
        QTest::newRow("later key wins") << "shape:label;shape:dial" << QVariantMap{{"shape", "dial"}};
        QTest::newRow("empty") << "" << QVariantMap();
    }
    void uiFormatEntries()
    {
        QFETCH(QString, format);
        QFETCH(QVariantMap, entries);
        QCOMPARE(ZorQmlInterface::parseUiFormat(format), entries);
    }

    void tableFollowsTheScreensControls()
    {
        auto table = uiTable({R"(index="60FF" name="Target")",
                                          R"(index="1017" name="Heartbeat" dynamicUiInstances="old")",
                                          R"(index="60ff" name="Target again")",
                                          R"(index="2000" name="Unused" dynamicUiInstances="label,0,0")"});
        QQuickWidget view;
        view.setSource(QUrl::fromLocalFile(writeCollectingScreen()));
        QVERIFY2(view.rootObject(), qPrintable(view.errors().value(0).toString()));
        ZorQmlInterface bridge;
        bridge.setModel(table.get());
        bridge.setView(&view);
        QSignalSpy notified(&bridge, &ZorQmlInterface::modelChangeNotify);

        view.rootObject()->setProperty("controls", "001.60ffh.00h,slider,10,20;001.1017H.00h,label,1,2;;"
                                                   "001.60ffh.00h,dial,3,4;001.6041h.00h,label,5,5");
        bridge.updateModelFromQmlInstances();
        QCOMPARE(instancesColumn(*table), QStringList({"001.60ffh.00h=slider,10,20;dial,3,4",
                                                      "001.1017h.00h=label,1,2"}));
        QCOMPARE(notified.count(), 0);

        // Outside a pass a changed name asks for a refresh.
        table->setData(table->index(1, 3), "Heartbeat time");
        QCOMPARE(notified.count(), 1);
        QCOMPARE(notified.at(0).at(0).toString(), id1017());

        // A moved control brings a pass after the collect delay.
        view.rootObject()->setProperty("controls", "001.1017h.00h,label,8,9");
        bridge.qmlInstancePositionChanged(QString(), QString(), 8, 9);
        QCOMPARE(instancesColumn(*table).size(), 2);
        QTRY_COMPARE_WITH_TIMEOUT(instancesColumn(*table), QStringList({"001.1017h.00h=label,8,9"}), 10000);

        // A screen that reports nothing empties the table; one without the
        // method does too.
        view.rootObject()->setProperty("controls", "");
        bridge.updateModelFromQmlInstances();
        QCOMPARE(table->rowCount(), 0);
        QCOMPARE(notified.count(), 1);
    }

    void screenWithoutCollectorEmptiesTheTable()
    {
        auto table = uiTable({R"(index="60FF" name="Target")"});
        const QString path = project.filePath("QML/bare.qml");
        ScreenFixture::writeText(path, "import QtQuick 2.15\nItem {}\n");
        QQuickWidget view;
        view.setSource(QUrl::fromLocalFile(path));
        QVERIFY(view.rootObject());
        ZorQmlInterface bridge;
        bridge.setModel(table.get());
        bridge.updateModelFromQmlInstances(); // no view: nothing happens
        QCOMPARE(table->rowCount(), 1);
        bridge.setView(&view);
        bridge.updateModelFromQmlInstances();
        QCOMPARE(table->rowCount(), 0);
    }

    void controlsAreRequestedPerInstance()
    {
        auto table = uiTable(
            {R"(index="60FF" name="Target" actualValue="15" zorUiFormat="shape:slider; updates:r500,w" dynamicUiInstances="slider,10,20;dial,3,4")",
             R"(index="1017" name="No format" dynamicUiInstances="label,1,1")",
             R"(index="2000" name="No instances" zorUiFormat="shape:label")"});
        ZorQmlInterface bridge;
        bridge.setModel(table.get());
        QSignalSpy spy(&bridge, &ZorQmlInterface::dynamicUiCreateRequested);
        bridge.createAllInstances();
        QCOMPARE(spy.count(), 2);
        const QVariantMap format{{"shape", "slider"}, {"updates", "r500,w"}};
        QCOMPARE(spy.at(0), QVariantList({"slider,10,20", id60ff(), format, "Target", "15"}));
        QCOMPARE(spy.at(1), QVariantList({"dial,3,4", id60ff(), format, "Target", "15"}));
    }

    void filesBelowTheProjectFolder()
    {
        ZorQmlInterface bridge;
        const QString text = QStringLiteral("Grüße, 5 °C\n");
        bridge.writeFile("logs/day/a.txt", text); // missing folders are made
        QCOMPARE(ScreenFixture::readText(project.filePath("logs/day/a.txt")), text);
        bridge.writeFile("logs/day/a.txt", "more", true);
        QCOMPARE(bridge.readFile("logs/day/a.txt"), text + "more");
        bridge.writeFile("./logs/day/a.txt", "new");
        QCOMPARE(bridge.readFile(project.filePath("logs/day/a.txt")), QStringLiteral("new"));
        bridge.writeFile("notes.txt", "n");
        QCOMPARE(bridge.readFile("./notes.txt"), QStringLiteral("n"));
        QCOMPARE(bridge.readFile("missing.txt"), QString());
    }

    void filesOutsideTheProjectFolderAreRefused_data()
    {
        QTest::addColumn<QString>("path");
        QTest::newRow("parent") << "../outside.txt";
        QTest::newRow("back out of a subfolder") << "sub/../../outside.txt";
        QTest::newRow("absolute") << "%outside%/outside.txt";
        QTest::newRow("through a link") << "escape/outside.txt";
        QTest::newRow("the folder itself") << ".";
    }
    void filesOutsideTheProjectFolderAreRefused()
    {
        QFETCH(QString, path);
        QTemporaryDir outside;
        QVERIFY(ScreenFixture::writeText(outside.filePath("outside.txt"), "secret"));
        // The project folder's parent, as a project folder of its own.
        QTemporaryDir parent;
        QVERIFY(QDir(parent.path()).mkpath("project/sub"));
        QVERIFY(QFile::link(outside.path(), parent.filePath("project/escape")));
        QVERIFY(ScreenFixture::writeText(parent.filePath("outside.txt"), "secret"));
        QVERIFY(QDir::setCurrent(parent.filePath("project")));
        path.replace("%outside%", outside.path());

        ZorQmlInterface bridge;
        const QRegularExpression refusedRead("^QML: readFile refused: \".*\" is outside the project folder \".*/project\"$");
        const QRegularExpression refusedWrite("^QML: writeFile refused: \".*\" is outside the project folder \".*/project\"$");
        QTest::ignoreMessage(QtWarningMsg, refusedRead);
        QCOMPARE(bridge.readFile(path), QString());
        QTest::ignoreMessage(QtWarningMsg, refusedWrite);
        bridge.writeFile(path, "changed");
        QTest::ignoreMessage(QtWarningMsg, refusedWrite);
        bridge.writeFile(path, "changed", true);
        QDir::setCurrent(project.path());
        QCOMPARE(ScreenFixture::readText(outside.filePath("outside.txt")), QStringLiteral("secret"));
        QCOMPARE(ScreenFixture::readText(parent.filePath("outside.txt")), QStringLiteral("secret"));
    }

    // A link inside the project folder that leads nowhere would have a
    // write create its target wherever the link points: refused, and said.
    void aLinkThatLeadsNowhereIsRefused()
    {
        QTemporaryDir outside;
        QVERIFY(QFile::link(outside.filePath("created.txt"), project.filePath("dangling.txt")));
        QVERIFY(QFile::link(outside.filePath("folder"), project.filePath("nofolder")));
        ZorQmlInterface bridge;
        QSignalSpy refused(&bridge, &ZorQmlInterface::accessRefused);
        for (const char *path : {"dangling.txt", "nofolder/new.txt"}) {
            QTest::ignoreMessage(QtWarningMsg,
                                 QRegularExpression("^QML: writeFile refused: \".*\" is a link that leads nowhere$"));
            bridge.writeFile(QLatin1String(path), "x");
        }
        QVERIFY(!QFileInfo::exists(outside.filePath("created.txt")));
        QVERIFY(!QFileInfo::exists(outside.filePath("folder")));
        QCOMPARE(refused.size(), 2);
        QFile::remove(project.filePath("dangling.txt"));
        QFile::remove(project.filePath("nofolder"));
    }

    // What screen authors write: the bridge as the context object "ZorUi",
    // its overloads and signal arguments reached by name.
    void aScreenCallsTheBridgeByName()
    {
        const QString path = project.filePath("QML/contract.qml");
        ScreenFixture::writeText(path, R"(import QtQuick 2.15
Item {
    property string lastValue: ""
    property string lastMessage: ""
    property string read: ""
    Connections {
        target: ZorUi
        function onModelValueChanged(dataObjectId, value) { lastValue = dataObjectId + "=" + value }
        function onMessageStrIn(text) { lastMessage = text }
    }
    function run() {
        ZorUi.writeFile("contract.txt", "one")
        ZorUi.writeFile("contract.txt", "+two", true)
        read = ZorUi.readFile("contract.txt")
        ZorUi.qmlValueChanged("001.60ffh.00h", "77")
        ZorUi.qmlMessageStrOut(":KM_START:KS_REQUEST")
    }
})");
        auto table = uiTable({R"(index="60FF" name="Target" actualValue="0")"});
        ZorQmlInterface bridge;
        bridge.setModel(table.get());
        QList<ZorMessage> out;
        connect(&bridge, &ZorQmlInterface::zorMessageOut, this, [&](ZorMessage m) { out << m; });
        QQuickWidget view;
        view.rootContext()->setContextProperty("ZorUi", &bridge);
        view.setSource(QUrl::fromLocalFile(path));
        QObject *root = view.rootObject();
        QVERIFY(root);
        QVERIFY(QMetaObject::invokeMethod(root, "run"));
        QCOMPARE(root->property("read").toString(), QStringLiteral("one+two"));
        QCOMPARE(table->index(0, 5).data().toString(), QStringLiteral("77"));
        QCOMPARE(out.size(), 1);
        QCOMPARE(out.at(0).msgType(), int(KM_START));
        QTRY_COMPARE(root->property("lastValue").toString(), QStringLiteral("001.60ffh.00h=77"));
        ZorMessage status(KM_STATUS, KS_INFO, 1);
        status.setOrigin("Node1");
        bridge.zorMessageIn(status);
        QCOMPARE(root->property("lastMessage").toString(), QStringLiteral("Node1::KM_STATUS:KS_INFO:1"));
    }
};

ZOR_TEST(TestQmlInterface)
#include "tst_qmlinterface.moc"
