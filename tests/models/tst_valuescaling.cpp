#include "scalingevaluator.h"
#include "valuescaling.h"
#include "zortest.h"

#include <QTest>
#include <memory>
#include <vector>

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

    // A formula that never ends is given up after about 50 ms and refused
    // from then on; its caller is not held again.
    void runawayFormulaIsRefused()
    {
        const ValueScaling runaway("=(function(){for(;;){}})()");
        QVERIFY(runaway.isValid()); // one expression: nothing ran yet
        double result = -1;
        QVERIFY(!runaway.scale(1, &result));
        QCOMPARE(result, 0.0);
        QVERIFY(!runaway.isValid());
        QVERIFY2(runaway.error().contains("50 ms"), qPrintable(runaway.error()));
        QVERIFY(!runaway.scale(2, &result));
        // Other formulas go on working.
        const ValueScaling fine("=x+1");
        QVERIFY(fine.scale(1, &result));
        QCOMPARE(result, 2.0);
    }

    // A text that would close the function around it and run its own code
    // is refused by the parser before any of it runs.
    void formulaTextNeverRunsWhileItIsRead()
    {
        const ValueScaling injected("=1; }); Math.abs = function() { return 42; }; (function(x) { return 1");
        QVERIFY(!injected.isValid());
        QVERIFY2(injected.error().contains("no single expression"), qPrintable(injected.error()));
        const ValueScaling looping("=1}); for(;;){}; (function(){ return 1");
        QVERIFY(!looping.isValid());
        double result = 0;
        QVERIFY(ValueScaling("=Math.abs(x)").scale(-3, &result));
        QCOMPARE(result, 3.0);
    }

    // Formulas share one engine: each distinct formula costs a function,
    // not an engine of its own.
    void formulasShareOneEngine()
    {
        std::vector<std::unique_ptr<ValueScaling>> records;
        for (int i = 0; i < 200; ++i) {
            records.push_back(std::make_unique<ValueScaling>(QStringLiteral("=x*%1").arg(i)));
            double result = 0;
            QVERIFY(records.back()->scale(2, &result));
            QCOMPARE(result, 2.0 * i);
        }
        QCOMPARE(ScalingEvaluator::instance().engineCount(), 1);
    }
};

ZOR_TEST(TestValueScaling)
#include "tst_valuescaling.moc"
