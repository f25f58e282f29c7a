#include "domtestproject.h"
#include "zordommodel.h"
#include "zorprojecttree.h"
#include "zortest.h"

#include <QThread>
#include <QtTest>

namespace {

QModelIndex child(const QAbstractItemModel &model, int row)
{
    return model.index(row, 0, model.index(0, 0));
}

QString propertyText(const ZorDomModel &model, const QModelIndex &index, const QString &key)
{
    return model.nodeFromIndex(index).firstChildElement(QStringLiteral("properties"))
        .firstChildElement(key).text();
}

}

// Modules report from their own threads; the model and its DOM belong to the
// GUI thread. Reports travel queued and are applied there, in order.
class TestDomModelThreads : public QObject
{
    Q_OBJECT
private slots:
    void module_reports_from_a_worker_thread_are_applied_in_the_gui_thread()
    {
        ZorDomModel model(DomTestProject::document());
        ZorProjectTree view;
        view.setModel(&model);
        view.expandAll();
        view.show();

        const QPersistentModelIndex can(child(model, 0));
        const QPersistentModelIndex drive(child(model, 2));
        const QPersistentModelIndex plot(child(model, 3));
        const QModelIndex plainDrive = drive;

        QList<int> seen; // the CAN interface's status at each announcement
        bool offThread = false;
        connect(&model, &QAbstractItemModel::layoutChanged, this, [&] {
            offThread = offThread || QThread::currentThread() != model.thread();
            seen << can.data(ZorDomModel::StatusRole).toInt();
        });

        QTest::ignoreMessage(QtWarningMsg, QRegularExpression(QStringLiteral("setModuleStatus called outside")));
        QScopedPointer<QThread> worker(QThread::create([&model, can, drive, plot, plainDrive] {
            for (int i = 1; i <= 200; ++i) {
                model.postModuleStatus(can, i * 10);
                model.postModuleStatusText(can, QStringLiteral("step %1").arg(i));
                model.postModuleProperty(drive, QStringLiteral("Counter"), QString::number(i));
            }
            model.postModuleStatus(plot, 2500);
            // A direct call from this thread must not reach the model.
            model.setModuleStatus(plainDrive, 7);
        }));
        worker->start();
        QVERIFY(worker->wait(10000));

        // Nothing has been applied while the GUI thread was busy waiting.
        QCOMPARE(can.data(ZorDomModel::StatusRole).toInt(), 0);
        QCOMPARE(propertyText(model, drive, QStringLiteral("Counter")), QString());
        // A module removed before its report arrives leaves no status behind.
        QVERIFY(model.removeRow(plot.row(), plot.parent()));

        QTRY_COMPARE(propertyText(model, drive, QStringLiteral("Counter")), QStringLiteral("200"));
        QCOMPARE(can.data(ZorDomModel::StatusRole).toInt(), 2000);
        QCOMPARE(can.data(ZorDomModel::StatusTextRole).toString(), QStringLiteral("step 200"));
        QCOMPARE(drive.data(ZorDomModel::StatusRole).toInt(), 0);
        QCOMPARE(model.overallStatus(), 2000);
        QVERIFY(!offThread);
        QVERIFY(!seen.isEmpty());
        QVERIFY(std::is_sorted(seen.cbegin(), seen.cend()));
        QCOMPARE(model.nodeFromIndex(drive).firstChildElement(QStringLiteral("properties"))
                     .elementsByTagName(QStringLiteral("Counter")).size(), 1);
    }
};

ZOR_TEST(TestDomModelThreads)
#include "tst_dommodelthreads.moc"
