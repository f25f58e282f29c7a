#include "canframes.h"
#include "zorcanmonfilterproxy.h"
#include "zormonitortablemodel.h"
#include "zortest.h"

#include <QMimeData>
#include <QTest>

namespace {

// The traffic every filter case runs on, one frame per row; the "Frame #"
// of a row is its position + 1.
const char *const Traffic[] = {
    "181h,8,40 41 60 00 00 00 00 00",        // 1
    "181h,2,01 02",                          // 2  (sent)
    "1ffh,8,43 00 10 00 92 01 02 00",        // 3
    "200h,8,00 00 00 00 11 22 33 44",        // 4
    "701h,1,05",                             // 5
    "77fh,1,7f",                             // 6
    "780h,1,00",                             // 7
    "601h,8,40 00 10 00 00 00 00 00",        // 8  (sent)
    "581h,8,43 00 10 00 92 01 02 00",        // 9
    "ext 1234abcdh,8,40 41 60 01 00 00 00 00", // 10
};
const QList<int> SentRows = {2, 8};

void fillTraffic(ZorMonitorTableModel &model)
{
    int number = 0;
    for (const char *text : Traffic) {
        ++number;
        model.appendFrame(ZorTest::frameMessage(QString::fromLatin1(text),
                                                SentRows.contains(number) ? KS_ANSWER : KS_INFO));
    }
    model.update();
}

QString visibleFrames(const QAbstractItemModel &proxy)
{
    QStringList numbers;
    for (int row = 0; row < proxy.rowCount(); ++row)
        numbers << proxy.index(row, 0).data().toString();
    return numbers.join(' ');
}

struct Rig
{
    ZorMonitorTableModel model;
    ZorCanMonFilterProxy proxy;
    Rig()
    {
        proxy.setSourceModel(&model);
        fillTraffic(model);
    }
};

} // namespace

class TestCanMonFilterProxy : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase() { ZorMessage::registerMetaType(); }

    // The filter language, one text per row: which frames stay visible.
    void filterLanguage_data()
    {
        QTest::addColumn<QString>("filter");
        QTest::addColumn<QString>("visible");
        const QString all = "1 2 3 4 5 6 7 8 9 10";
        QTest::newRow("ID=181") << "ID=181" << "1 2";
        QTest::newRow("id = 0x181") << "id = 0x181" << "1 2";
        QTest::newRow("id=181h") << "id=181h" << "1 2";
        QTest::newRow("two ranges") << "id=100-1ff, id=701-77f" << "1 2 3 5 6";
        QTest::newRow("negated") << "id!=181" << "3 4 5 6 7 8 9 10";
        QTest::newRow("negated, blank") << "id != 181" << "3 4 5 6 7 8 9 10";
        QTest::newRow("exclude") << "exclude id=181" << "3 4 5 6 7 8 9 10";
        QTest::newRow("exclude, comment") << "exclude id=700-7ff # heartbeats" << "1 2 3 4 8 9 10";
        QTest::newRow("semicolon comment") << "id=181 ; id=200" << "1 2";
        QTest::newRow("index or subindex") << "index=1000, subindex=1" << "3 8 9 10";
        QTest::newRow("index range") << "index=1000-1000" << "3 8 9";
        QTest::newRow("subindex") << "subindex=1" << "10";
        QTest::newRow("extended id") << "id=1234abcd" << "10";
        QTest::newRow("data wildcard") << "data=40 41 60*" << "1 10";
        QTest::newRow("data wildcard, any case") << "DATA=43 * 92*" << "3 9";
        QTest::newRow("dir=tx") << "dir=tx" << "2 8";
        QTest::newRow("key t finds Data") << "t=05" << "5";
        QTest::newRow("key d finds ID") << "d=181h" << "1 2";
        QTest::newRow("key i finds ID") << "i=7??h" << "5 6 7";
        QTest::newRow("negated pattern") << "dir!=tx" << "1 3 4 5 6 7 9 10";
        QTest::newRow("desc matches empty text") << "desc=" << all;
        QTest::newRow("bare tx is case-sensitive") << "tx" << "";
        QTest::newRow("bare 181h") << "181h" << "1 2";
        QTest::newRow("bare regexp") << "7[0-7]fh" << "6";
        QTest::newRow("bare 181 is no whole text") << "181" << "";
        QTest::newRow("unknown key") << "foo=1" << "";
        QTest::newRow("unknown key dropped") << "foo=1, id=701" << "5";
        QTest::newRow("auto alone") << "auto" << all;
        QTest::newRow("auto exclusion") << "auto data = 43 00 10 00 *" << "1 2 4 5 6 7 8 10";
        QTest::newRow("empty") << "" << "";
        QTest::newRow("comment only") << "# nothing" << "";
        QTest::newRow("exclude nothing") << "exclude" << all;
    }
    void filterLanguage()
    {
        QFETCH(QString, filter);
        QFETCH(QString, visible);
        Rig rig;
        rig.proxy.setFilter(filter);
        QCOMPARE(visibleFrames(rig.proxy), QStringLiteral("1 2 3 4 5 6 7 8 9 10"));
        rig.proxy.setActive(true);
        QCOMPARE(visibleFrames(rig.proxy), visible);
        rig.proxy.setActive(false);
        QCOMPARE(rig.proxy.rowCount(), 10);
    }

    // A text with a malformed term is refused whole, with a message naming
    // the term: the filter in force stays as it was, and so does a find.
    void malformedFiltersAreRefused_data()
    {
        QTest::addColumn<QString>("filter");
        QTest::addColumn<QString>("error");
        QTest::newRow("bad digit") << "id=18g"
                                   << "Filter term \"id=18g\": \"18g\" is not a hexadecimal number.";
        QTest::newRow("bad high bound") << "id=100-1zz"
                                        << "Filter term \"id=100-1zz\": \"1zz\" is not a hexadecimal number.";
        QTest::newRow("beyond 32 bits") << "index=123456789"
                                        << "Filter term \"index=123456789\": \"123456789\" is not a hexadecimal number.";
        QTest::newRow("no number") << "id=" << "Filter term \"id=\": no number given.";
        QTest::newRow("no low bound") << "subindex=-5" << "Filter term \"subindex=-5\": no number given.";
        QTest::newRow("range backwards")
            << "id=200-100"
            << "Filter term \"id=200-100\": the range is empty (its low bound is above its high bound).";
        QTest::newRow("three bounds") << "id=1-2-3"
                                      << "Filter term \"id=1-2-3\": a range has two bounds, \"low-high\".";
        QTest::newRow("bad term after a good one") << "id=181, id!=x"
                                                   << "Filter term \"id!=x\": \"x\" is not a hexadecimal number.";
        QTest::newRow("unbalanced expression")
            << "(" << "Filter term \"(\": not a valid regular expression (unexpected end).";
        QTest::newRow("unbalanced pattern")
            << "data=[40" << "Filter term \"data=[40\": not a valid pattern (unexpected end).";
    }
    void malformedFiltersAreRefused()
    {
        QFETCH(QString, filter);
        QFETCH(QString, error);
        Rig rig;
        rig.proxy.setFilter("id=701");
        rig.proxy.setActive(true);
        QVERIFY(rig.proxy.filterError().isEmpty());

        QString checked;
        QVERIFY(!rig.proxy.checkFilter(filter, &checked));
        QCOMPARE(checked, error);
        rig.proxy.setFilter(filter);
        QCOMPARE(rig.proxy.filterError(), error);
        QCOMPARE(rig.proxy.filterText(), QStringLiteral("id=701"));
        QCOMPARE(visibleFrames(rig.proxy), QStringLiteral("5"));

        QModelIndex current = rig.proxy.index(0, 0);
        QVERIFY(!rig.proxy.findNext(current, filter));
        QVERIFY(rig.proxy.isActive());
        QCOMPARE(rig.proxy.filterText(), QStringLiteral("id=701"));

        // The next good text is taken and clears the message.
        rig.proxy.setFilter("id=77f");
        QVERIFY(rig.proxy.filterError().isEmpty());
        QCOMPARE(visibleFrames(rig.proxy), QStringLiteral("6"));
    }

    void filterTextIsKeptLowerCased()
    {
        Rig rig;
        rig.proxy.setFilter("  EXCLUDE ID=181 # Mine ");
        QCOMPARE(rig.proxy.filterText(), QStringLiteral("exclude id=181 # mine"));
        QVERIFY(rig.proxy.excludeMode());
        QCOMPARE(rig.proxy.terms().size(), 1);
        const ZorCanMonFilterProxy::FilterTerm term = rig.proxy.terms().first();
        QVERIFY(term.numeric);
        QCOMPARE(term.column, 2);
        QCOMPARE(term.low, 0x181);
        QCOMPARE(term.high, 0x181);

        // A bare term gives one pattern term per column from ID on.
        rig.proxy.setFilter("181h");
        QVERIFY(!rig.proxy.excludeMode());
        QCOMPARE(rig.proxy.terms().size(), 4);

        // New frames are filtered as they arrive.
        rig.proxy.setFilter("id=701");
        rig.proxy.setActive(true);
        QCOMPARE(rig.proxy.rowCount(), 1);
        rig.model.appendFrame(ZorTest::frameMessage("701h,1,7f"));
        rig.model.appendFrame(ZorTest::frameMessage("702h,1,7f"));
        rig.model.update();
        QCOMPARE(visibleFrames(rig.proxy), QStringLiteral("5 11"));
    }

    // The pasted request of the monitor's own workflow.
    void pastedFrameThroughFilters()
    {
        Rig rig;
        QMimeData mime;
        mime.setText("12\t345\t181h\t40 00 10 00 00 00 00 00");
        QVERIFY(rig.proxy.dropMimeData(&mime, Qt::CopyAction, 5, 3, QModelIndex()));
        QCOMPARE(rig.model.rowCount(), 11);
        QCOMPARE(rig.model.index(10, 0).data().toString(), QStringLiteral("clip 12"));
        rig.proxy.setActive(true);
        auto shows = [&rig](const QString &filter) {
            rig.proxy.setFilter(filter);
            return visibleFrames(rig.proxy).endsWith("clip 12");
        };
        QVERIFY(shows("index=1000"));
        QVERIFY(shows("exclude id=700-7ff # heartbeats"));
        QVERIFY(!shows("id!=181"));
    }

    void findNextWrapsRound_data()
    {
        QTest::addColumn<QList<int>>("hits"); // rows holding 181h
        QTest::addColumn<int>("from");
        QTest::addColumn<QString>("text");
        QTest::addColumn<int>("found");       // -1: not found
        QTest::newRow("wraps to row 2") << QList<int>{2, 5} << 5 << "id=181" << 2;
        QTest::newRow("forward to row 7") << QList<int>{2, 7} << 5 << "id=181" << 7;
        QTest::newRow("only the start row") << QList<int>{5} << 5 << "id=181" << 5;
        QTest::newRow("none") << QList<int>{} << 5 << "id=181" << -1;
        QTest::newRow("exclude finds another id") << QList<int>{5, 6, 7, 8, 9, 0, 1, 2, 3}
                                                  << 5 << "exclude id=181" << 4;
        QTest::newRow("no current: after row 0") << QList<int>{0, 3} << -1 << "id=181" << 3;
    }
    void findNextWrapsRound()
    {
        QFETCH(QList<int>, hits);
        QFETCH(int, from);
        QFETCH(QString, text);
        QFETCH(int, found);
        ZorMonitorTableModel model;
        ZorCanMonFilterProxy proxy;
        proxy.setSourceModel(&model);
        for (int row = 0; row < 10; ++row)
            model.appendFrame(ZorTest::frameMessage(hits.contains(row) ? "181h,1,00" : "182h,1,00"));
        model.update();
        // An active filter is switched off for the search, which keeps its text.
        proxy.setFilter("exclude id=999");
        proxy.setActive(true);
        QModelIndex current = from >= 0 ? proxy.index(from, 1) : QModelIndex();
        const bool result = proxy.findNext(current, text);
        QCOMPARE(result, found >= 0);
        QVERIFY(!proxy.isActive());
        QCOMPARE(proxy.filterText(), text);
        QCOMPARE(proxy.rowCount(), 10);
        if (found >= 0) {
            QCOMPARE(current.row(), found);
            QCOMPARE(current.column(), 3);
        }
    }

    void findNextOnAnEmptyViewChangesNothing()
    {
        Rig rig;
        rig.proxy.setFilter("id=999");
        rig.proxy.setActive(true);
        QModelIndex current;
        QVERIFY(!rig.proxy.findNext(current, "id=181"));
        QVERIFY(rig.proxy.isActive());
        QCOMPARE(rig.proxy.filterText(), QStringLiteral("id=999"));
    }

    void autoFilterExcludesTheMostFrequentData()
    {
        ZorMonitorTableModel model;
        ZorCanMonFilterProxy proxy;
        proxy.setSourceModel(&model);
        for (int i = 0; i < 3; ++i)
            model.appendFrame(ZorTest::frameMessage("181h,8,00 00 00 00 aa bb cc dd"));
        for (int i = 0; i < 2; ++i)
            model.appendFrame(ZorTest::frameMessage("182h,8,01 02 03 04 05 06 07 08"));
        model.appendFrame(ZorTest::frameMessage("183h,8,09 09 09 09 09 09 09 09"));
        model.update();

        proxy.setFilter("id=181 ; mine");
        proxy.autoFilter();
        QCOMPARE(proxy.filterText(), QStringLiteral("auto data = 00 00 00 00 *"));
        QVERIFY(proxy.isActive());
        QCOMPARE(proxy.rowCount(), 3);

        proxy.setFilter("auto data = 00 00 00 00 * ; mine");
        proxy.autoFilter();
        QCOMPARE(proxy.filterText(),
                 QStringLiteral("auto data = 00 00 00 00 *  , data = 01 02 03 04 * ;mine"));
        QCOMPARE(visibleFrames(proxy), QStringLiteral("6"));

        proxy.autoFilter();
        const QString allExcluded = "auto data = 00 00 00 00 *  , data = 01 02 03 04 *  , "
                                    "data = 09 09 09 09 * ;mine";
        QCOMPARE(proxy.filterText(), allExcluded);
        QCOMPARE(proxy.rowCount(), 0);
        // Nothing left to exclude: only the comment mark changes.
        proxy.autoFilter();
        QCOMPARE(proxy.filterText(), QString(allExcluded).replace(';', '#'));
        QCOMPARE(proxy.rowCount(), 0);
    }

    // Short frames (a heartbeat's one byte) are excluded by their whole data.
    void autoFilterOnShortFrames()
    {
        ZorMonitorTableModel model;
        ZorCanMonFilterProxy proxy;
        proxy.setSourceModel(&model);
        for (int i = 0; i < 3; ++i)
            model.appendFrame(ZorTest::frameMessage("701h,1,05"));
        model.appendFrame(ZorTest::frameMessage("181h,8,00 00 00 00 00 00 00 00"));
        model.update();
        proxy.autoFilter();
        QCOMPARE(proxy.filterText(), QStringLiteral("auto data = 05"));
        QCOMPARE(visibleFrames(proxy), QStringLiteral("4"));
    }

    void autoFilterOnAnEmptyTable()
    {
        ZorMonitorTableModel model;
        ZorCanMonFilterProxy proxy;
        proxy.setSourceModel(&model);
        proxy.setFilter("id=181 ; mine");
        proxy.autoFilter();
        QCOMPARE(proxy.filterText(), QStringLiteral("id=181 # mine"));
        QVERIFY(!proxy.isActive());
    }

    void clipboardText()
    {
        Rig rig;
        const QString header = "Frame #\tt [msec]\tID\tData\tDir\tDescription\n";
        QScopedPointer<QMimeData> mime(
            rig.proxy.mimeData({rig.proxy.index(6, 2), rig.proxy.index(2, 0), QModelIndex()}));
        QCOMPARE(rig.proxy.mimeTypes(), QStringList("text/plain"));
        QCOMPARE(rig.proxy.supportedDropActions(), Qt::CopyAction);
        const QStringList lines = mime->text().split('\n');
        QCOMPARE(lines.size(), 7); // header, rows 2 to 6, an empty last part
        QCOMPARE(lines.at(0) + '\n', header);
        QCOMPARE(lines.at(1), QStringLiteral("3\t\t1ffh\t43 00 10 00 92 01 02 00\tRX\t"));
        QCOMPARE(lines.at(5), QStringLiteral("7\t\t780h\t00\tRX\t"));

        // The copied rows paste back as "clip" rows with their numbers.
        rig.model.removeRows(0, rig.model.rowCount());
        QVERIFY(rig.proxy.dropMimeData(mime.data(), Qt::CopyAction, 0, 0, QModelIndex()));
        QCOMPARE(visibleFrames(rig.proxy), QStringLiteral("clip 3 clip 4 clip 5 clip 6 clip 7"));

        // All rows without indexes; the header alone from an empty view.
        mime.reset(rig.proxy.mimeData({}));
        QCOMPARE(mime->text().count('\n'), 6);
        rig.proxy.setFilter("id=999");
        rig.proxy.setActive(true);
        mime.reset(rig.proxy.mimeData({}));
        QCOMPARE(mime->text(), header);
    }
};

ZOR_TEST(TestCanMonFilterProxy)
#include "tst_canmonfilterproxy.moc"
