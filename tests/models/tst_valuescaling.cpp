#include "valuescaling.h"
#include "zortest.h"

#include <QTest>

class TestValueScaling : public QObject
{
    Q_OBJECT

private slots:
    void scalesForwardAndBack_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<bool>("valid");
        QTest::addColumn<bool>("factor");
        QTest::addColumn<double>("raw");
        QTest::addColumn<bool>("scales");
        QTest::addColumn<double>("scaled");
        QTest::addColumn<bool>("scalesBack");
        QTest::newRow("empty is factor 1") << "" << true << true << 7.0 << true << 7.0 << true;
        QTest::newRow("0.1") << "0.1" << true << true << 125.0 << true << 12.5 << true;
        QTest::newRow("blanks") << " 0.1 " << true << true << 3.0 << true << 0.3 << true;
        QTest::newRow("0") << "0" << true << true << 99.0 << true << 0.0 << false;
        QTest::newRow("1e3") << "1e3" << true << true << 2.0 << true << 2000.0 << true;
        QTest::newRow("negative") << "-2" << true << true << 3.0 << true << -6.0 << true;
        QTest::newRow("=x*2") << "=x*2" << true << false << 4.0 << true << 8.0 << false;
        QTest::newRow("x*2") << "x*2" << true << false << 4.0 << true << 8.0 << false;
        QTest::newRow("X*2") << "=X*2" << true << false << 4.0 << true << 8.0 << false;
        QTest::newRow("offset") << "=x*0.5+10" << true << false << 4.0 << true << 12.0 << false;
        QTest::newRow("case kept") << "=Math.PI*x" << true << false << 2.0 << true
                                   << 2 * 3.141592653589793 << false;
        QTest::newRow("comma operator") << "1,5" << true << false << 4.0 << true << 5.0 << false;
        QTest::newRow("infinity") << "=x/0" << true << false << 4.0 << false << 0.0 << false;
        QTest::newRow("not a number") << "=x+'a'" << true << false << 4.0 << false << 0.0 << false;
        QTest::newRow("throws") << "=nothing(x)" << true << false << 4.0 << false << 0.0 << false;
        QTest::newRow("syntax") << "=x>" << false << false << 4.0 << false << 0.0 << false;
    }
    void scalesForwardAndBack()
    {
        QFETCH(QString, text);
        QFETCH(bool, valid);
        QFETCH(bool, factor);
        QFETCH(double, raw);
        QFETCH(bool, scales);
        QFETCH(double, scaled);
        QFETCH(bool, scalesBack);
        const ValueScaling scaling(text);
        QCOMPARE(scaling.isValid(), valid);
        QCOMPARE(scaling.isFactor(), factor);
        double result = -1;
        QCOMPARE(scaling.scale(raw, &result), scales);
        QCOMPARE(result, scaled);
        QCOMPARE(scaling.canScaleBack(), scalesBack);
        double back = -1;
        QCOMPARE(scaling.unscale(scaled, &back), scalesBack);
        if (scalesBack)
            QCOMPARE(qRound64(back), qRound64(raw));
        else
            QCOMPARE(back, 0.0);
    }

    void factorIsADouble()
    {
        const ValueScaling scaling("0.1");
        QCOMPARE(scaling.factor(), 0.1);
        double raw = 0;
        QVERIFY(scaling.unscale(12.5, &raw));
        QCOMPARE(qRound(raw), 125);
        double shown = 0;
        QVERIFY(scaling.scale(125, &shown));
        QCOMPARE(QString::number(shown, 'g', 6), QStringLiteral("12.5"));
    }

    void sameMeaningChangesNothingAndCopiesStandAlone()
    {
        ValueScaling scaling("=x*2");
        scaling.setText("=X*2");
        QCOMPARE(scaling.text(), QStringLiteral("=x*2"));
        scaling.setText(" =x*2 ");
        QCOMPARE(scaling.text(), QStringLiteral("=x*2"));

        ValueScaling copy(scaling);
        scaling.setText("=x*3");
        double a = 0, b = 0;
        QVERIFY(scaling.scale(1, &a));
        QVERIFY(copy.scale(1, &b));
        QCOMPARE(a, 3.0);
        QCOMPARE(b, 2.0);
        copy = scaling;
        QVERIFY(copy.scale(2, &b));
        QCOMPARE(b, 6.0);
        copy.setText(QString());
        QVERIFY(copy.isEmpty() && copy.isFactor() && copy.canScaleBack());
    }
};

ZOR_TEST(TestValueScaling)
#include "tst_valuescaling.moc"
