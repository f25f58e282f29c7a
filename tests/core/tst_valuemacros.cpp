// Value macros in frame templates and script expressions of ZorBabelFish.
#include "zorbabelfish.h"
#include "zortest.h"

#include <QtTest>
#include <atomic>
#include <thread>
#include <vector>

class TestValueMacros : public QObject
{
    Q_OBJECT
private slots:
    void resolve_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<QString>("resolved");
        QTest::addColumn<bool>("ok");

        QTest::newRow("widths") << "00 canunsigned8(1) canunsigned16(515) canunsigned32(0x06070809)"
                                << "00 01 03 02 09 08 07 06" << true;
        QTest::newRow("unsigned maxima") << "00 canunsigned8(255) canunsigned16(65535) canunsigned32(0xffffffff)"
                                         << "00 ff ff ff ff ff ff ff" << true;
        QTest::newRow("signed -1") << "00 caninteger8(-1) caninteger16(-1) caninteger32(-1)"
                                   << "00 ff ff ff ff ff ff ff" << true;
        QTest::newRow("signed maxima") << "00 caninteger8(127) caninteger16(32767) caninteger32(0x7fffffff)"
                                       << "00 7f ff 7f ff ff ff 7f" << true;
        QTest::newRow("signed minima") << "00 caninteger8(-128) caninteger16(-32768) caninteger32(-0x80000000)"
                                       << "00 80 00 80 00 00 00 80" << true;
        QTest::newRow("identifier sum") << "canid(0x600 + 5)" << "605h" << true;
        QTest::newRow("identifier 0") << "canid(0)" << "0h" << true;
        QTest::newRow("byte wraps") << "canunsigned8(256)" << "00" << true;
        QTest::newRow("16 bits wrap") << "canunsigned16(70000)" << "70 11" << true;
        QTest::newRow("order in text does not matter")
            << "canunsigned16(258) x canid(1) y canunsigned8(3)" << "02 01 x 1h y 03" << true;
        QTest::newRow("template") << "canid(1536 + 5),8,40 canunsigned16(4120) canunsigned8(0) 00 00 00 00"
                                  << "605h,8,40 18 10 00 00 00 00 00" << true;
        QTest::newRow("no macro") << "601h,8,40 00 10" << "601h,8,40 00 10" << true;

        // Failures write zeros, as the template expects, but are reported.
        QTest::newRow("undefined name") << "canid(nodeId)" << "0h" << false;
        QTest::newRow("syntax error") << "00 canunsigned16(1 +)" << "00 00 00" << false;
        QTest::newRow("not a number") << "canunsigned8('x')" << "00" << false;
        QTest::newRow("inner parentheses") << "canid((1+2)*3)" << "0h*3)" << false;
        // A macro word must be followed by "(" at once; otherwise everything up
        // to the next "(" counts as the name, and the plain value is written.
        QTest::newRow("name with blank") << "canid (0x600 + 5)" << "1541" << false;
        QTest::newRow("word without parentheses") << "canid 5, canunsigned8(1)" << "1" << false;
        QTest::newRow("no parentheses at all") << "canid 5" << "canid 5" << false;
        QTest::newRow("no closing parenthesis") << "canunsigned8(1" << "canunsigned8(1" << false;
    }

    void resolve()
    {
        QFETCH(QString, text);
        QFETCH(QString, resolved);
        QFETCH(bool, ok);
        ZorBabelFish b;
        QString t = text;
        QCOMPARE(b.resolveCanMacros(t), ok);
        QCOMPARE(t, resolved);
    }

    void macroBytes()
    {
        ZorBabelFish b;
        bool ok = false;
        const QByteArray arr = b.fromMacroStrToQbytearray(
            QStringLiteral("00 caninteger8(-128) caninteger16(-32768) caninteger32(-0x80000000)"), &ok);
        QVERIFY(ok);
        QCOMPARE(arr, QByteArray::fromHex("0080008000000080"));
        quint32 u32 = 0;
        qint32 i32 = 0;
        QVERIFY(ZorBabelFish::fromDataPartToUnsigned32(arr, u32, 4));
        QCOMPARE(u32, 0x80000000u);
        QVERIFY(ZorBabelFish::fromDataPartToInteger32(arr, i32, 4));
        QCOMPARE(i32, std::numeric_limits<qint32>::min());

        // Digits pair from the end: "34 12 f" has five, so the first byte gets one.
        QCOMPARE(b.fromMacroStrToQbytearray(QStringLiteral("canunsigned16(0x1234) f"), &ok),
                 QByteArray::fromHex("03412f"));
        QVERIFY(ok);
        b.fromMacroStrToQbytearray(QStringLiteral("canunsigned32(missing)"), &ok);
        QVERIFY(!ok);
    }

    void resolvedFrameText()
    {
        ZorBabelFish b;
        QByteArray expected, got, other;
        QVERIFY(ZorBabelFish::fromCanStrToQbytearray(QStringLiteral("7fh,4,01 02 03 04,65500"), expected));
        QString t = QStringLiteral("7fh,4,canunsigned32(0x4030201),65500");
        QVERIFY(b.resolveCanMacros(t));
        QVERIFY(ZorBabelFish::fromCanStrToQbytearray(t, got));
        QCOMPARE(got, expected);

        QString a = QStringLiteral("7fh,4,canunsigned32(0xffffffff)");
        QString c = QStringLiteral("7fh,4,canunsigned32(4294967295)");
        QVERIFY(b.resolveCanMacros(a) && b.resolveCanMacros(c));
        QVERIFY(ZorBabelFish::fromCanStrToQbytearray(a, got));
        QVERIFY(ZorBabelFish::fromCanStrToQbytearray(c, other));
        QCOMPARE(got, other);
    }

    void findMacro()
    {
        QString name, argument;
        int start = 0, end = 0;
        // The fixed word order decides, not the position in the text.
        const QString text = QStringLiteral("caninteger8(1) canid(2)");
        QVERIFY(ZorBabelFish::findCanMacro(text, name, argument, start, end));
        QCOMPARE(name, QStringLiteral("canid"));
        QCOMPARE(argument, QStringLiteral("2"));
        QCOMPARE(start, 15);
        QCOMPARE(end, 22);

        QVERIFY(!ZorBabelFish::findCanMacro(QStringLiteral("601h,8,00"), name, argument, start, end));
        QCOMPARE(start, -1);
        QCOMPARE(end, -1);
        QVERIFY(!ZorBabelFish::findCanMacro(QStringLiteral("x canid"), name, argument, start, end));
        QCOMPARE(start, 2);
    }

    void expressionsKeepTheirDefinitions()
    {
        ZorBabelFish b;
        QCOMPARE(b.evaluateExpression(QStringLiteral("6 * 7")).toInt32(), 42);
        b.evaluateExpression(QStringLiteral("var base = 0x580"));
        QCOMPARE(b.evaluateExpression(QStringLiteral("base + 5")).toInt32(), 0x585);
        QString t = QStringLiteral("canid(base + 1)");
        QVERIFY(b.resolveCanMacros(t));
        QCOMPARE(t, QStringLiteral("581h"));

        // Another object has an engine of its own.
        ZorBabelFish other;
        QVERIFY(other.evaluateExpression(QStringLiteral("base")).isError());
        QVERIFY(b.evaluateExpression(QStringLiteral("1 +")).isError());
        // A failure does not spoil the next evaluation.
        QCOMPARE(b.evaluateExpression(QStringLiteral("base")).toInt32(), 0x580);
        QCOMPARE(b.evaluateExpression(QStringLiteral("'a' + 'b'")).toString(), QStringLiteral("ab"));
    }

    void textThatResolvesToItselfEnds()
    {
        ZorBabelFish b;
        b.evaluateExpression(QStringLiteral("var again = 'canid (again)'"));
        QString t = QStringLiteral("canid (again)");
        QVERIFY(!b.resolveCanMacros(t));
    }

    void objectsInSeveralThreads()
    {
        // Each thread resolves with its own object while all of them also use
        // one shared object, which was made in this thread.
        ZorBabelFish shared;
        shared.evaluateExpression(QStringLiteral("var offset = 0x600"));
        // This one gets its engine in a worker and is destroyed here.
        ZorBabelFish handedBack;
        std::atomic<int> failures{0};
        std::vector<std::thread> workers;
        for (int t = 0; t < 4; ++t) {
            workers.emplace_back([&shared, &handedBack, &failures, t] {
                if (t == 0 && handedBack.evaluateExpression(QStringLiteral("2 + 3")).toInt32() != 5)
                    ++failures;
                ZorBabelFish own;
                for (int i = 0; i < 300; ++i) {
                    QString a = QStringLiteral("canunsigned16(%1) canid(%2 + 1)").arg(i * 7 + t).arg(t);
                    QString expectA = ZorBabelFish::fromCanValueToHexStr(i * 7 + t, 6);
                    expectA = expectA.mid(2, 2) + QLatin1Char(' ') + expectA.left(2) +
                              QStringLiteral(" %1h").arg(t + 1, 0, 16);
                    if (!own.resolveCanMacros(a) || a != expectA)
                        ++failures;
                    QString s = QStringLiteral("canid(offset + %1)").arg(i % 128);
                    if (!shared.resolveCanMacros(s) || s != QStringLiteral("%1h").arg(0x600 + i % 128, 0, 16))
                        ++failures;
                }
            });
        }
        for (std::thread &w : workers)
            w.join();
        QCOMPARE(failures.load(), 0);
        QCOMPARE(handedBack.evaluateExpression(QStringLiteral("7 * 6")).toInt32(), 42);
    }
};

ZOR_TEST(TestValueMacros)
#include "tst_valuemacros.moc"
