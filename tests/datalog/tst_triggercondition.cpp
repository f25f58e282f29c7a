// Trigger condition texts: checking, normalising, parsing and firing.
#include "triggercondition.h"
#include "zortest.h"

#include <QtTest>

class TestTriggerCondition : public QObject
{
    Q_OBJECT
private slots:
    void textsCheckedAndNormalised_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<bool>("valid");
        QTest::addColumn<QString>("normalised");
        QTest::newRow("greater without blanks") << "001.60ffh.00h>200" << true << "001.60ffh.00h > 200";
        QTest::newRow("less, level trimmed") << "001.60ffh.00h < 200.50" << true << "001.60ffh.00h < 200.5";
        QTest::newRow("change, blanks around") << "  002.6041h.00h \t" << true << "002.6041h.00h";
        QTest::newRow("large level") << "001.6064h.00h>1234567" << true << "001.6064h.00h > 1.23457e+06";
        QTest::newRow("negative level") << "001.6064h.00h < -3" << true << "001.6064h.00h < -3";
        QTest::newRow("empty") << "" << true << "";
        QTest::newRow("blank") << "   " << true << "";
        QTest::newRow("level not a number") << "001.60ffh.00h > abc" << false << "001.60ffh.00h > abc";
        QTest::newRow("not a data-object id") << "1.60ffh.00h > 5" << false << "1.60ffh.00h > 5";
        QTest::newRow("two comparisons") << "001.60ffh.00h <> 5" << false << "001.60ffh.00h <> 5";
        QTest::newRow("no id") << "> 5" << false << "> 5";
        QTest::newRow("no level") << "001.60ffh.00h >" << false << "001.60ffh.00h >";
        QTest::newRow("change of no id") << "velocity" << false << "velocity";
    }

    void textsCheckedAndNormalised()
    {
        QFETCH(QString, text);
        QFETCH(bool, valid);
        QFETCH(QString, normalised);
        QCOMPARE(TriggerCondition::isValid(text), valid);
        QCOMPARE(TriggerCondition::normalize(text), normalised);
    }

    void textsParsed()
    {
        const TriggerCondition greater("001.60ffh.00h > 200");
        QVERIFY(greater.isGreaterThan());
        QCOMPARE(greater.name(), QStringLiteral("001.60ffh.00h"));
        QCOMPARE(greater.level(), 200.0f);
        QVERIFY(TriggerCondition("a<b").isLessThan());
        QCOMPARE(TriggerCondition("a<b").level(), 0.0f);
        const TriggerCondition change(" 002.6041h.00h ");
        QVERIFY(change.isOnChange());
        QCOMPARE(change.toString(), QStringLiteral("002.6041h.00h"));
        // Both characters: a greater condition, though not a valid text;
        // its name is no channel's.
        const TriggerCondition both("001.60ffh.00h <> 5");
        QVERIFY(both.isGreaterThan());
        QCOMPARE(both.name(), QStringLiteral("001.60ffh.00h <"));
        // Three parts: no name, so it matches no channel.
        QVERIFY(TriggerCondition("a > 1 > 2").name().isEmpty());
    }

    void conditionsFire_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<float>("previous");
        QTest::addColumn<float>("value");
        QTest::addColumn<bool>("fires");
        QTest::newRow("rising from the level") << "x > 100" << 100.0f << 101.0f << true;
        QTest::newRow("rising above the level") << "x > 100" << 101.0f << 102.0f << false;
        QTest::newRow("rising to the level") << "x > 100" << 99.0f << 100.0f << false;
        QTest::newRow("falling below") << "x < 200" << 200.0f << 199.5f << true;
        QTest::newRow("falling below already") << "x < 200" << 199.0f << 198.0f << false;
        QTest::newRow("falling is no rise") << "x > 100" << 150.0f << 50.0f << false;
        QTest::newRow("change") << "x" << 1.0f << 2.0f << true;
        QTest::newRow("no change") << "x" << 2.0f << 2.0f << false;
    }

    void conditionsFire()
    {
        QFETCH(QString, text);
        QFETCH(float, previous);
        QFETCH(float, value);
        QFETCH(bool, fires);
        QCOMPARE(TriggerCondition(text).fires(previous, value), fires);
    }
};

ZOR_TEST(TestTriggerCondition)
#include "tst_triggercondition.moc"
