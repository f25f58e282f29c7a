#include "zortest.h"
#include <QtTest>

class TestSkeleton : public QObject
{
    Q_OBJECT
private slots:
    void runs() { QVERIFY(true); }
};

ZOR_TEST(TestSkeleton)
#include "tst_skeleton.moc"
