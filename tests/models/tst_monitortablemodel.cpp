#include "canframes.h"
#include "zorabstractframecodec.h"
#include "zormonitortablemodel.h"
#include "zortest.h"

#include <QMimeData>
#include <QSignalSpy>
#include <QTest>

namespace {

// A decoder that describes each frame by its identifier and can be told to
// refuse its parameter.
class TagDecoder : public ZorAbstractFrameCodec
{
public:
    explicit TagDecoder(bool acceptParameter = true, bool *deleted = nullptr)
        : m_accept(acceptParameter), m_deleted(deleted)
    {
    }
    ~TagDecoder() override
    {
        if (m_deleted)
            *m_deleted = true;
    }
    bool setParameter(const QString &text) override
    {
        ZorAbstractFrameCodec::setParameter(text);
        return m_accept;
    }
    QVariant decode(const QVariant &frame) override
    {
        return QStringLiteral("tag ")
               + ZorBabelFish::fromQbytearrayToCanIdStr(frame.toByteArray());
    }

private:
    bool m_accept;
    bool *m_deleted;
};

QString cell(const ZorMonitorTableModel &model, int row, int column, int role = Qt::DisplayRole)
{
    return model.index(row, column).data(role).toString();
}

QStringList rowTexts(const ZorMonitorTableModel &model, int row)
{
    QStringList texts;
    for (int column = 0; column < model.columnCount(); ++column)
        texts << cell(model, row, column);
    return texts;
}

bool importClip(ZorMonitorTableModel &model, const QString &text, bool fromFile = false,
                Qt::DropAction action = Qt::CopyAction)
{
    QMimeData mime;
    mime.setText(text);
    return model.importText(&mime, action, 0, 0, QModelIndex(), fromFile);
}

} // namespace

class TestMonitorTableModel : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase() { ZorMessage::registerMetaType(); }

    void liveFramesFillTheColumns()
    {
        ZorMonitorTableModel model;
        QCOMPARE(model.columnCount(), 6);
        QStringList headers;
        for (int c = 0; c < 6; ++c)
            headers << model.headerData(c, Qt::Horizontal).toString();
        QCOMPARE(headers, QStringList({"Frame #", "t [msec]", "ID", "Data", "Dir", "Description"}));
        QVERIFY(!model.headerData(0, Qt::Vertical).isValid());

        model.appendFrame(ZorTest::frameMessage("581h,8,43 00 10 00 92 01 02 00,513"));
        model.appendFrame(ZorTest::frameMessage("601h,8,40 17 60 02 00 00 00 00", KS_ANSWER));
        model.appendFrame(ZorTest::frameMessage("ext 1234abcdh,2,01 02"));
        model.appendFrame(ZorTest::frameMessage("R 181h,0"));
        QCOMPARE(model.rowCount(), 0); // shown at the next refresh
        model.update();
        QCOMPARE(model.rowCount(), 4);

        QCOMPARE(rowTexts(model, 0),
                 QStringList({"1", "513", "581h", "43 00 10 00 92 01 02 00", "RX", ""}));
        // A sent frame (KS_ANSWER) shows TX, a received one RX; no stamp
        // leaves the time empty.
        QCOMPARE(rowTexts(model, 1),
                 QStringList({"2", "", "601h", "40 17 60 02 00 00 00 00", "TX", ""}));
        QCOMPARE(rowTexts(model, 2), QStringList({"3", "", "ext 1234abcdh", "01 02", "RX", ""}));
        QCOMPARE(cell(model, 3, 2), QStringLiteral("R 181h"));

        // The numbers behind ID, Data and Dir: identifier, SDO index, subindex.
        QCOMPARE(model.index(1, 2).data(Qt::UserRole).toInt(), 0x601);
        QCOMPARE(model.index(1, 3).data(Qt::UserRole).toInt(), 0x6017);
        QCOMPARE(model.index(1, 4).data(Qt::UserRole).toInt(), 2);
        QCOMPARE(model.index(2, 2).data(Qt::UserRole).toInt(), 0x1234abcd);
        QVERIFY(!model.index(1, 0).data(Qt::UserRole).isValid());
        QVERIFY(!model.index(9, 0).data().isValid());

        QCOMPARE(model.flags(model.index(0, 0)),
                 Qt::ItemIsSelectable | Qt::ItemIsDragEnabled | Qt::ItemIsEnabled);
        QCOMPARE(model.flags(QModelIndex()), Qt::ItemIsDropEnabled);
    }

    void numberingGoesOnAfterClearing()
    {
        ZorMonitorTableModel model;
        for (int i = 0; i < 3; ++i)
            model.appendFrame(ZorTest::frameMessage("181h,1,00"));
        model.update();
        QVERIFY(model.removeRows(0, model.rowCount()));
        QCOMPARE(model.rowCount(), 0);
        model.appendFrame(ZorTest::frameMessage("181h,1,00"));
        model.update();
        QCOMPARE(cell(model, 0, 0), QStringLiteral("4"));
        QCOMPARE(model.frameCount(), 4);
    }

    // Frames wait for the refresh timer and arrive in one insertion.
    void oneInsertionPerRefresh()
    {
        ZorMonitorTableModel model;
        QSignalSpy inserted(&model, &QAbstractItemModel::rowsInserted);
        for (int i = 0; i < 50; ++i)
            model.appendFrame(ZorTest::frameMessage("181h,1,00"));
        QCOMPARE(model.pendingCount(), 50);
        QVERIFY(inserted.wait(2000));
        QTest::qWait(50);
        QCOMPARE(inserted.count(), 1);
        QCOMPARE(inserted.at(0).at(1).toInt(), 0);
        QCOMPARE(inserted.at(0).at(2).toInt(), 49);
        QCOMPARE(model.pendingCount(), 0);

        // The timer is idle until the next frame starts it again.
        model.appendFrame(ZorTest::frameMessage("181h,1,00"));
        QVERIFY(inserted.wait(2000));
        QCOMPARE(inserted.count(), 2);
        QCOMPARE(model.rowCount(), 51);
    }

    void theTableKeepsTheNewestRows_data()
    {
        QTest::addColumn<int>("shown");
        QTest::addColumn<int>("arriving");
        QTest::addColumn<int>("removed");
        QTest::addColumn<QString>("firstNumber");
        QTest::newRow("25000 in one refresh") << 0 << 25000 << 0 << "5001";
        QTest::newRow("19990 shown, 20 arrive") << 19990 << 20 << 10 << "11";
        QTest::newRow("full, 1 arrives") << 20000 << 1 << 1 << "2";
    }
    void theTableKeepsTheNewestRows()
    {
        QFETCH(int, shown);
        QFETCH(int, arriving);
        QFETCH(int, removed);
        QFETCH(QString, firstNumber);
        ZorMonitorTableModel model;
        const ZorMessage frame = ZorTest::frameMessage("181h,8,01 02 03 04 05 06 07 08");
        for (int i = 0; i < shown; ++i)
            model.appendFrame(frame);
        model.update();
        QSignalSpy removedSpy(&model, &QAbstractItemModel::rowsRemoved);
        QSignalSpy inserted(&model, &QAbstractItemModel::rowsInserted);
        for (int i = 0; i < arriving; ++i)
            model.appendFrame(frame);
        QVERIFY(model.pendingCount() <= ZorMonitorTableModel::MaxRows);
        model.update();

        QCOMPARE(model.rowCount(), 20000);
        QCOMPARE(cell(model, 0, 0), firstNumber);
        QCOMPARE(cell(model, 19999, 0), QString::number(shown + arriving));
        QCOMPARE(inserted.count(), 1);
        int removedRows = 0;
        for (const QList<QVariant> &args : removedSpy)
            removedRows += args.at(2).toInt() - args.at(1).toInt() + 1;
        QCOMPARE(removedRows, removed);
    }

    void removeRowsClampsItsRange_data()
    {
        QTest::addColumn<int>("row");
        QTest::addColumn<int>("count");
        QTest::addColumn<bool>("result");
        QTest::addColumn<QStringList>("left");
        QTest::newRow("middle") << 1 << 2 << true << QStringList({"1", "4", "5"});
        QTest::newRow("past the end") << 3 << 10 << true << QStringList({"1", "2", "3"});
        QTest::newRow("before the start") << -2 << 3 << true << QStringList({"2", "3", "4", "5"});
        QTest::newRow("huge count") << 0 << INT_MAX << true << QStringList();
        QTest::newRow("row beyond") << 5 << 1 << false << QStringList({"1", "2", "3", "4", "5"});
        QTest::newRow("zero count") << 0 << 0 << false << QStringList({"1", "2", "3", "4", "5"});
        QTest::newRow("negative count") << 1 << -1 << false << QStringList({"1", "2", "3", "4", "5"});
    }
    void removeRowsClampsItsRange()
    {
        QFETCH(int, row);
        QFETCH(int, count);
        QFETCH(bool, result);
        QFETCH(QStringList, left);
        ZorMonitorTableModel model;
        for (int i = 0; i < 5; ++i)
            model.appendFrame(ZorTest::frameMessage("181h,1,00"));
        model.update();
        QSignalSpy aboutToRemove(&model, &QAbstractItemModel::rowsAboutToBeRemoved);
        QCOMPARE(model.removeRows(row, count), result);
        QCOMPARE(aboutToRemove.count(), result ? 1 : 0);
        QStringList numbers;
        for (int r = 0; r < model.rowCount(); ++r)
            numbers << cell(model, r, 0);
        QCOMPARE(numbers, left);
    }

    void importReadsTraceLines_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<bool>("fromFile");
        QTest::addColumn<QStringList>("rows"); // "Frame #|t|ID|Data|Dir|index|subindex" per row

        QTest::newRow("pasted line") << "12\t345\t181h\t40 00 10 00 00 00 00 00" << false
                                     << QStringList({"clip 12|345|181h|40 00 10 00 00 00 00 00||4096|0"});
        QTest::newRow("file line with TX") << "file 7\t0\t181h\t01 02\tTX" << true
                                           << QStringList({"file 7|0|181h|01 02|TX|2|0"});
        QTest::newRow("trace file block")
            << "2024-03-05\t14:07:09\tTrace File Started\n"
               "Frame #\tt [msec]\tID\tData\tDir\tDescription\n"
               "17\t513\t581h\t43 00 10 00 92 01 02 00\t\n"
               "18\t\t601h\t40 00 10 00 00 00 00 00\tTX\n"
               "2024-03-05\t14:07:10\tTrace file stopped\n"
            << true
            << QStringList({"file 17|513|581h|43 00 10 00 92 01 02 00||4096|0",
                            "file 18||601h|40 00 10 00 00 00 00 00|TX|4096|0"});
        QTest::newRow("three blanks are a tab, CR ends lines")
            << "5   10   ext 1234abcdh   aa bb\r6\t11\t701h\t05" << false
            << QStringList({"clip 5|10|ext 1234abcdh|aa bb||187|0", "clip 6|11|701h|05||0|0"});
        QTest::newRow("copied rows keep their number")
            << "Frame #\tt [msec]\tID\tData\tDir\tDescription\nclip 17\t\t181h\t00\t\t\n" << false
            << QStringList({"clip 17||181h|00||0|0"});
        QTest::newRow("skipped lines")
            << "12\t345\t181h\n"                  // three fields
               "abc\t1\t181h\t00\n"               // no frame number
               "13\t1\tzz\t00\n"                  // identifier that does not parse
               "15\t1\t182h\t00"
            << false << QStringList({"clip 15|1|182h|00||0|0"});
        // Running times beyond 16 bits are what the monitor writes.
        QTest::newRow("running time") << "14\t70000\t581h\t4b 17 10 00 e8 03 00 00" << true
                                      << QStringList({"file 14|70000|581h|4b 17 10 00 e8 03 00 00||4119|0"});
    }
    void importReadsTraceLines()
    {
        QFETCH(QString, text);
        QFETCH(bool, fromFile);
        QFETCH(QStringList, rows);
        ZorMonitorTableModel model;
        model.appendFrame(ZorTest::frameMessage("100h,0"));
        QVERIFY(importClip(model, text, fromFile));
        // A pending live frame goes first; imported rows are appended below.
        QCOMPARE(model.rowCount(), rows.size() + 1);
        QCOMPARE(cell(model, 0, 2), QStringLiteral("100h"));
        for (int r = 0; r < rows.size(); ++r) {
            QStringList got = rowTexts(model, r + 1).mid(0, 5);
            got << cell(model, r + 1, 3, Qt::UserRole) << cell(model, r + 1, 4, Qt::UserRole);
            QCOMPARE(got.join('|'), rows.at(r));
        }
        QCOMPARE(model.frameCount(), 1); // imports take no numbers
    }

    void stampsUnwrap_data()
    {
        QTest::addColumn<int>("stamp");
        QTest::addColumn<qint64>("previous");
        QTest::addColumn<qint64>("elapsed");
        QTest::addColumn<qint64>("running");
        QTest::newRow("first") << 513 << qint64(-1) << qint64(0) << qint64(513);
        QTest::newRow("onwards") << 600 << qint64(513) << qint64(90) << qint64(600);
        QTest::newRow("across the wrap") << 40 << qint64(65500) << qint64(70) << qint64(65576);
        QTest::newRow("second wrap") << 10 << qint64(131000) << qint64(90) << qint64(131082);
        QTest::newRow("a little behind") << 65500 << qint64(65576) << qint64(0) << qint64(65500);
        // Five minutes without a frame: the clock tells how many wraps passed.
        QTest::newRow("quiet bus") << 1000 << qint64(1000) << qint64(300000) << qint64(1000 + 5 * 65536);
        QTest::newRow("late processing") << 200 << qint64(100) << qint64(20000) << qint64(200);
    }

    void stampsUnwrap()
    {
        QFETCH(int, stamp);
        QFETCH(qint64, previous);
        QFETCH(qint64, elapsed);
        QTEST(ZorMonitorTableModel::unwrapStamp(quint16(stamp), previous, elapsed), "running");
    }

    // The time column runs on where the adapter's 16-bit stamp wraps.
    void liveTimesRunOnAcrossTheWrap()
    {
        ZorMonitorTableModel model;
        for (const char *text : {"181h,1,00,65000", "181h,1,00,65535", "181h,1,00,0", "181h,1,00,300",
                                 "181h,1,00"})
            model.appendFrame(ZorTest::frameMessage(text));
        QCOMPARE(model.lastFrameTime(), qint64(-1));
        model.update();
        QStringList times;
        for (int row = 0; row < model.rowCount(); ++row)
            times << cell(model, row, 1);
        // A stamp of 0 that the frame says it carries is a time too.
        QCOMPARE(times, QStringList({"65000", "65535", "65536", "65836", ""}));
    }

    void importLimitsAndActions()
    {
        ZorMonitorTableModel model;
        QVERIFY(!importClip(model, "1\t2\t181h\t00", false, Qt::LinkAction));
        QCOMPARE(model.rowCount(), 0);

        QString text;
        for (int i = 1; i <= 20005; ++i)
            text += QStringLiteral("%1\t\t181h\t00\n").arg(i);
        QVERIFY(importClip(model, text, true));
        QCOMPARE(model.rowCount(), 20000);
        QCOMPARE(cell(model, 19999, 0), QStringLiteral("file 20000"));

        // Dropping goes the paste way.
        QMimeData mime;
        mime.setText("3\t\t181h\t00");
        QVERIFY(model.dropMimeData(&mime, Qt::CopyAction, 0, 0, QModelIndex()));
        QCOMPARE(cell(model, 19999, 0), QStringLiteral("clip 3"));
    }

    void decoderDescribesFrames()
    {
        ZorMonitorTableModel model;
        model.setDecoder(new TagDecoder);
        model.appendFrame(ZorTest::frameMessage("701h,1,05"));
        QVERIFY(importClip(model, "9\t\t181h\t00"));
        QCOMPARE(cell(model, 0, 5), QStringLiteral("tag 701h"));
        QCOMPARE(cell(model, 1, 5), QStringLiteral("tag 181h"));

        // An unknown name leaves no decoder; rows keep their descriptions.
        QVERIFY(!model.setDecoder(QStringLiteral("none")));
        QVERIFY(!model.decoder());
        model.appendFrame(ZorTest::frameMessage("701h,1,05"));
        model.update();
        QCOMPARE(cell(model, 2, 5), QString());
        QCOMPARE(cell(model, 0, 5), QStringLiteral("tag 701h"));
    }

    void decoderByName_data()
    {
        QTest::addColumn<QString>("name");
        QTest::addColumn<bool>("attached");
        QTest::newRow("canopen") << "canopen" << true;
        QTest::newRow("CANopen") << "CANopen" << true;
        QTest::newRow("SCRIPT") << "SCRIPT" << true;
        QTest::newRow("none") << "none" << false;
        QTest::newRow("empty") << "" << false;
    }
    void decoderByName()
    {
        QFETCH(QString, name);
        QFETCH(bool, attached);
        ZorMonitorTableModel model;
        QCOMPARE(model.setDecoder(name), attached);
        QCOMPARE(model.decoder() != nullptr, attached);
    }

    void loadingTheDecoderParameter()
    {
        ZorMonitorTableModel model;
        // Without a decoder there is nothing to load.
        QVERIFY(!model.loadDecoderScript(QStringLiteral("decoder.js")));

        model.setDecoder(new TagDecoder(true));
        QVERIFY(model.loadDecoderScript(QStringLiteral("decoder.js")));
        QCOMPARE(model.decoder()->parameter(), QStringLiteral("decoder.js"));

        bool deleted = false;
        model.setDecoder(new TagDecoder(false, &deleted));
        QVERIFY(!model.loadDecoderScript(QStringLiteral("missing.js")));
        QVERIFY(deleted);
        QVERIFY(!model.decoder());

        // The script decoder refuses a file that is not there.
        QVERIFY(model.setDecoder(QStringLiteral("Script")));
        QVERIFY(!model.loadDecoderScript(QStringLiteral("/nonexistent/decoder.js")));
        QVERIFY(!model.decoder());
    }
};

ZOR_TEST(TestMonitorTableModel)
#include "tst_monitortablemodel.moc"
