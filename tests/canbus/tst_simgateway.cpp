// The simulated CAN gateway seen from a plain TCP client: the adapter
// protocol, the bus between clients, connection drops, bit-rate gating and
// the CANopen nodes (boot-up, SDO expedited, segmented and block transfers,
// LSS), all with raw frames written by hand.
#include "simgateway.h"
#include "zortest.h"

#include <QElapsedTimer>
#include <QTcpSocket>
#include <QtTest>

namespace {

// One adapter client: the received text split into CR-terminated lines.
class Client
{
public:
    bool connectTo(quint16 port)
    {
        socket.connectToHost(QHostAddress::LocalHost, port);
        return socket.waitForConnected(3000);
    }

    void write(const QByteArray &text)
    {
        socket.write(text);
        socket.flush();
    }

    // Waits until the received text holds needle; returns everything
    // received up to the end of needle and keeps the rest.
    QByteArray waitFor(const QByteArray &needle, int timeoutMs = 3000)
    {
        QElapsedTimer timer;
        timer.start();
        int at;
        while ((at = rx.indexOf(needle)) < 0) {
            const qint64 left = timeoutMs - timer.elapsed();
            if (left <= 0)
                return QByteArray();
            if (socket.bytesAvailable() == 0)
                socket.waitForReadyRead(int(qMin<qint64>(left, 50)));
            rx += socket.readAll();
        }
        const QByteArray head = rx.left(at + needle.size());
        rx.remove(0, at + needle.size());
        return head;
    }

    // Everything that arrives within ms (for checks that nothing came).
    QByteArray collect(int ms)
    {
        QElapsedTimer timer;
        timer.start();
        while (timer.elapsed() < ms)
            socket.waitForReadyRead(int(ms - timer.elapsed()));
        rx += socket.readAll();
        const QByteArray all = rx;
        rx.clear();
        return all;
    }

    // The data bytes of the next frame line with this 11-bit identifier;
    // echoes and other lines before it are passed over. Empty after the
    // time-out.
    QByteArray nextFrame(int id, int timeoutMs = 3000)
    {
        const QByteArray head = "t" + QByteArray::number(id, 16).rightJustified(3, '0');
        QElapsedTimer timer;
        timer.start();
        for (;;) {
            int start = 0;
            int cr;
            while ((cr = rx.indexOf('\r', start)) >= 0) {
                const QByteArray line = rx.mid(start, cr - start);
                start = cr + 1;
                if (line.startsWith(head) && line.size() >= 5) {
                    rx.remove(0, start);
                    return QByteArray::fromHex(line.mid(5, 2 * line.mid(4, 1).toInt()));
                }
            }
            rx.remove(0, start);
            const qint64 left = timeoutMs - timer.elapsed();
            if (left <= 0)
                return QByteArray();
            if (socket.bytesAvailable() == 0)
                socket.waitForReadyRead(int(qMin<qint64>(left, 50)));
            rx += socket.readAll();
        }
    }

    QTcpSocket socket;
    QByteArray rx;
};

QByteArray frameLine(int id, const QByteArray &data)
{
    return "t" + QByteArray::number(id, 16).rightJustified(3, '0') + QByteArray::number(data.size())
        + data.toHex() + "\r";
}

QByteArray bytes8(std::initializer_list<int> values)
{
    QByteArray b(8, '\0');
    int i = 0;
    for (int v : values)
        b[i++] = char(v);
    return b;
}

quint32 le32(const QByteArray &b, int at)
{
    return quint32(uchar(b.at(at))) | quint32(uchar(b.at(at + 1))) << 8 | quint32(uchar(b.at(at + 2))) << 16
        | quint32(uchar(b.at(at + 3))) << 24;
}

quint16 crc16(const QByteArray &data)
{
    quint16 crc = 0;
    for (const char ch : data) {
        crc ^= quint16(uchar(ch)) << 8;
        for (int i = 0; i < 8; ++i)
            crc = (crc & 0x8000) ? quint16((crc << 1) ^ 0x1021) : quint16(crc << 1);
    }
    return crc;
}

const QByteArray kDeviceName("Sim Drive \xc4\xd6\xdc-\xe9 \xb5m/s\xb2 25\xb0" "C \x80");

} // namespace

class TestSimGateway : public QObject
{
    Q_OBJECT

    SimGateway *gw = nullptr;

    // An SDO request to node 5 and its answer; a short timeoutMs checks
    // that no answer comes.
    QByteArray sdo(Client &c, const QByteArray &request, int timeoutMs = 3000)
    {
        c.write(frameLine(0x605, request));
        return c.nextFrame(0x585, timeoutMs);
    }

    bool openAt(Client &c, const QByteArray &code = "5")
    {
        if (!c.connectTo(gw->port()))
            return false;
        c.write("S" + code + "\rO\r");
        return !c.waitFor("\r\r").isEmpty();
    }

    // Client side of a CiA 301 block download; returns the server's last
    // answer (the end confirmation or an abort). The segment numbered
    // dropSegment (0-based over the whole data) is left out once.
    QByteArray blockDownload(Client &c, int index, int sub, const QByteArray &data, bool withCrc,
                             int dropSegment, QList<int> *acks)
    {
        QByteArray init = bytes8({withCrc ? 0xC6 : 0xC2, index & 0xFF, index >> 8, sub});
        for (int i = 0; i < 4; ++i)
            init[4 + i] = char(data.size() >> (8 * i));
        QByteArray answer = sdo(c, init);
        if (answer.size() != 8 || (uchar(answer.at(0)) & 0xFB) != 0xA0)
            return answer;
        int blockSize = uchar(answer.at(4));
        const int segments = (data.size() + 6) / 7;
        int done = 0;
        while (done < segments) {
            QByteArray text;
            const int count = qMin(blockSize, segments - done);
            for (int i = 0; i < count; ++i) {
                const int seg = done + i;
                if (seg == dropSegment) {
                    dropSegment = -1;
                    continue;
                }
                QByteArray frame(1, char((i + 1) | (seg == segments - 1 ? 0x80 : 0)));
                frame += data.mid(7 * seg, 7).leftJustified(7, '\0');
                text += frameLine(0x605, frame);
            }
            c.write(text);
            answer = c.nextFrame(0x585);
            if (answer.size() != 8 || uchar(answer.at(0)) != 0xA2)
                return answer;
            acks->append(uchar(answer.at(1)));
            done += uchar(answer.at(1));
            blockSize = uchar(answer.at(2));
        }
        const int unused = 7 * segments - data.size();
        const quint16 crc = withCrc ? crc16(data) : 0;
        return sdo(c, bytes8({0xC1 | (unused << 2), crc & 0xFF, crc >> 8}));
    }

private slots:
    void init()
    {
        gw = new SimGateway;
        QVERIFY2(gw->start(), qPrintable(gw->errorString()));
        QVERIFY(gw->port() > 0);
        QCOMPARE(gw->address(), QStringLiteral("127.0.0.1:%1").arg(gw->port()));
    }

    void cleanup()
    {
        delete gw;
        gw = nullptr;
    }

    void openSequenceArrivesAsSeparateWrites()
    {
        Client c;
        QVERIFY(c.connectTo(gw->port()));
        const int cid = gw->waitForClient();
        QVERIFY(cid > 0);
        for (const QByteArray &cmd : {QByteArray("C\r"), QByteArray("S5\r"), QByteArray("O\r")}) {
            c.write(cmd);
            QCOMPARE(c.waitFor("\r"), QByteArray("\r"));
            QVERIFY(gw->waitForClientBytes(cid, cmd));
        }
        QCOMPARE(gw->clientWrites(cid), (QList<QByteArray>{"C\r", "S5\r", "O\r"}));
        QVERIFY(gw->waitForLine(QStringLiteral("^CHANNEL %1 open 250000$").arg(cid)).hasMatch());
        QCOMPARE(gw->query("CLIENTS"), QStringLiteral("%1:open:250000").arg(cid));
    }

    void commandAnswers_data()
    {
        QTest::addColumn<QByteArray>("before");
        QTest::addColumn<QByteArray>("command");
        QTest::addColumn<QByteArray>("answer");
        QTest::newRow("status") << QByteArray() << QByteArray("F\r") << QByteArray("F00\r");
        QTest::newRow("version") << QByteArray() << QByteArray("V\r") << QByteArray("V1013\r");
        QTest::newRow("close when closed") << QByteArray() << QByteArray("C\r") << QByteArray("\r");
        QTest::newRow("rate code 9") << QByteArray() << QByteArray("S9\r") << QByteArray("\a");
        QTest::newRow("open without rate") << QByteArray() << QByteArray("O\r") << QByteArray("\a");
        QTest::newRow("rate while open") << QByteArray("S5\rO\r") << QByteArray("S6\r") << QByteArray("\a");
        QTest::newRow("frame while closed") << QByteArray("S5\r") << QByteArray("t1232aabb\r") << QByteArray("\a");
        QTest::newRow("length 9") << QByteArray("S5\rO\r") << QByteArray("t12391122\r") << QByteArray("\a");
        QTest::newRow("short data") << QByteArray("S5\rO\r") << QByteArray("t1232aa\r") << QByteArray("\a");
        QTest::newRow("11-bit id too big") << QByteArray("S5\rO\r") << QByteArray("t8001aa\r") << QByteArray("\a");
        QTest::newRow("time stamps on") << QByteArray() << QByteArray("Z1\r") << QByteArray("\r");
        QTest::newRow("unknown") << QByteArray() << QByteArray("X\r") << QByteArray("\a");
    }

    void commandAnswers()
    {
        QFETCH(QByteArray, before);
        QFETCH(QByteArray, command);
        QFETCH(QByteArray, answer);
        Client c;
        QVERIFY(c.connectTo(gw->port()));
        if (!before.isEmpty()) {
            c.write(before);
            QCOMPARE(c.waitFor(QByteArray(before.count('\r'), '\r')), QByteArray(before.count('\r'), '\r'));
        }
        c.write(command);
        QCOMPARE(c.waitFor(answer), answer); // and nothing before it
    }

    void statusFlagsAreLatchedUntilRead()
    {
        Client c;
        QVERIFY(c.connectTo(gw->port()));
        QVERIFY(gw->waitForClient() > 0);
        QVERIFY(gw->command("STATUS 08"));
        c.write("F\rF\r");
        QCOMPARE(c.waitFor("F00\r"), QByteArray("F08\rF00\r"));
    }

    void framesTravelBetweenClientsWithEcho()
    {
        Client a, b;
        QVERIFY(openAt(a));
        QVERIFY(openAt(b));
        b.write("Z1\r");
        QCOMPARE(b.waitFor("\r"), QByteArray("\r"));

        a.write("t1232aabb\rT1234abcd2a0b0\rr7ff0\r");
        QCOMPARE(a.waitFor("er7ff0\r"), QByteArray("et1232aabb\reT1234abcd2a0b0\rer7ff0\r"));
        QByteArray got = b.waitFor("\r");
        got += b.waitFor("\r");
        got += b.waitFor("\r");
        // Each line carries four digits of time stamp after the data.
        QVERIFY2(QRegularExpression("^t1232aabb[0-9a-f]{4}\rT1234abcd2a0b0[0-9a-f]{4}\rr7ff0[0-9a-f]{4}\r$")
                     .match(QString::fromLatin1(got)).hasMatch(), got.constData());
        QVERIFY(gw->waitForLine("^BUS c1 t1232aabb$").hasMatch());

        QVERIFY(gw->inject("t0012ccdd"));
        QCOMPARE(a.waitFor("\r"), QByteArray("t0012ccdd\r"));
    }

    void floodArrivesCompleteAndInOrder()
    {
        Client a;
        QVERIFY(openAt(a));
        QVERIFY(gw->command("LOG all off"));
        QVERIFY(gw->command("FLOOD 3000 t300400000000"));
        QVERIFY(gw->waitForLine("^FLOODDONE 3000 ").hasMatch());
        for (int i = 0; i < 3000; ++i) {
            const QByteArray line = a.waitFor("\r");
            const QByteArray counter = QByteArray::fromHex(line.mid(5, 8));
            QCOMPARE(int(le32(counter, 0)), i);
        }
    }

    // With bus timing the frames that waited through a stall of the gateway
    // process follow at the bus rate, not in a burst: no 10 ms carry more
    // frames than a 1 Mbit/s bus can: a 4-byte frame is at least 79 bits
    // long, so 126 of them fit in 10 ms, plus the one the window cuts and
    // the one whose late start was made up.
    void timedBusNeverExceedsItsRate()
    {
        Client a;
        QVERIFY(openAt(a));
        QVERIFY(gw->command("LOG all off"));
        QVERIFY(gw->command("TIMING 1000000"));
        QVERIFY(gw->command("FLOOD 2000 t300400000000"));
        QVERIFY(gw->command("STALL 40"));
        QVERIFY(gw->waitForLine("^FLOODDONE 2000 ", 30000).hasMatch());
        const QRegularExpressionMatch peak = QRegularExpression("peak10ms=(\\d+)").match(gw->query("STATS"));
        QVERIFY(peak.hasMatch());
        QVERIFY2(peak.captured(1).toInt() <= 128, qPrintable(peak.captured(0)));
        QVERIFY(peak.captured(1).toInt() > 0);
    }

    // The test thread may block in socket calls for long while the gateway
    // logs every frame; the gateway must not stall on its full stdout pipe.
    void busRunsWhileEventsAreNotRead()
    {
        Client a;
        QVERIFY(openAt(a));
        for (int i = 0; i < 2000; ++i) { // about 150 kB of event lines
            a.write("t1238aabbccddeeff0011\r");
            QCOMPARE(a.waitFor("\r"), QByteArray("et1238aabbccddeeff0011\r"));
        }
        QVERIFY(gw->command("PING"));
        QCOMPARE(gw->lines().filter(QRegularExpression("^BUS c1 t1238")).size(), 2000);
    }

    void dropRefusesAndAcceptReopens()
    {
        Client a;
        QVERIFY(openAt(a));
        QVERIFY(gw->drop());
        QVERIFY(a.socket.state() == QAbstractSocket::UnconnectedState || a.socket.waitForDisconnected(3000));

        QTcpSocket refused;
        refused.connectToHost(QHostAddress::LocalHost, gw->port());
        QVERIFY(!refused.waitForConnected(3000));
        QCOMPARE(refused.error(), QAbstractSocket::ConnectionRefusedError);

        QVERIFY(gw->accept());
        Client b;
        QVERIFY(openAt(b));

        QVERIFY(gw->drop(true)); // hang up on every new connection
        Client c;
        QVERIFY(c.connectTo(gw->port()));
        QVERIFY(c.socket.state() == QAbstractSocket::UnconnectedState || c.socket.waitForDisconnected(3000));
        QVERIFY(gw->waitForLine("^REFUSED$").hasMatch());
    }

    void nodeBootsSendsHeartbeatAndEmergency()
    {
        Client a;
        QVERIFY(openAt(a));
        QVERIFY(gw->addNode(5));
        QCOMPARE(a.nextFrame(0x705), QByteArray(1, '\0'));
        QVERIFY(gw->command("NODE EMCY 5 10 81 11 01 02 03 04 05"));
        QCOMPARE(a.nextFrame(0x085), QByteArray::fromHex("1081110102030405"));
        QVERIFY(gw->command("NODE SET 5 heartbeat=20"));
        QCOMPARE(a.nextFrame(0x705), QByteArray(1, '\x7f')); // pre-operational
        a.write("t00020105\r"); // NMT start node 5
        QVERIFY(gw->waitForLine("^NMTSTATE 5 5$").hasMatch());
        QByteArray state;
        for (int i = 0; i < 5 && state != QByteArray(1, '\x05'); ++i) // one may still be under way
            state = a.nextFrame(0x705);
        QCOMPARE(state, QByteArray(1, '\x05'));
        QVERIFY(gw->command("NODE SET 5 heartbeat=0"));
        QVERIFY(gw->command("NODE BOOT 5"));
        QVERIFY(gw->waitForLine("^BUS n5 t705100$").hasMatch());
    }

    void expeditedTransfers_data()
    {
        QTest::addColumn<QByteArray>("request");
        QTest::addColumn<QByteArray>("answer");
        // 4-byte objects are answered 42h (size not indicated), as the stack does.
        QTest::newRow("read 1000h") << bytes8({0x40, 0x00, 0x10}) << bytes8({0x42, 0x00, 0x10, 0, 0x92, 0x01, 0x02, 0x00});
        QTest::newRow("read 2001h u16") << bytes8({0x40, 0x01, 0x20}) << bytes8({0x4B, 0x01, 0x20, 0, 0x34, 0x12});
        QTest::newRow("write 60FFh") << bytes8({0x23, 0xFF, 0x60, 0, 1, 2, 3, 4}) << bytes8({0x60, 0xFF, 0x60});
        QTest::newRow("missing object") << bytes8({0x40, 0x00, 0x30}) << bytes8({0x80, 0x00, 0x30, 0, 0, 0, 0x02, 0x06});
        QTest::newRow("missing subindex") << bytes8({0x40, 0x10, 0x20, 3}) << bytes8({0x80, 0x10, 0x20, 3, 0x11, 0, 0x09, 0x06});
        QTest::newRow("subindex of plain object") << bytes8({0x40, 0xFF, 0x60, 1}) << bytes8({0x80, 0xFF, 0x60, 1, 0x11, 0, 0x09, 0x06});
        QTest::newRow("write read-only") << bytes8({0x23, 0x07, 0x20, 0, 1}) << bytes8({0x80, 0x07, 0x20, 0, 0x02, 0, 0x01, 0x06});
        QTest::newRow("read write-only") << bytes8({0x40, 0x08, 0x20}) << bytes8({0x80, 0x08, 0x20, 0, 0x01, 0, 0x01, 0x06});
        QTest::newRow("2 bytes into integer32") << bytes8({0x2B, 0xFF, 0x60, 0, 1, 2}) << bytes8({0x80, 0xFF, 0x60, 0, 0x10, 0, 0x07, 0x06});
        QTest::newRow("empty domain") << bytes8({0x40, 0x50, 0x1F, 1}) << bytes8({0x80, 0x50, 0x1F, 1, 0x24, 0, 0, 0x08});
        QTest::newRow("segment without transfer") << bytes8({0x60}) << bytes8({0x80, 0, 0, 0, 0x01, 0, 0x04, 0x05});
    }

    void expeditedTransfers()
    {
        QFETCH(QByteArray, request);
        QFETCH(QByteArray, answer);
        QVERIFY(gw->addNode(5));
        Client a;
        QVERIFY(openAt(a));
        QCOMPARE(sdo(a, request).toHex(' '), answer.toHex(' '));
    }

    void writtenValueReadsBack()
    {
        QVERIFY(gw->addNode(5));
        Client a;
        QVERIFY(openAt(a));
        QCOMPARE(sdo(a, bytes8({0x23, 0xFF, 0x60, 0, 0x78, 0x56, 0x34, 0x12})).toHex(), bytes8({0x60, 0xFF, 0x60}).toHex());
        QCOMPARE(sdo(a, bytes8({0x40, 0xFF, 0x60})).toHex(), bytes8({0x42, 0xFF, 0x60, 0, 0x78, 0x56, 0x34, 0x12}).toHex());
        QCOMPARE(gw->nodeValue(5, 0x60FF, 0), QByteArray::fromHex("78563412"));
    }

    void segmentedUploadOfDeviceName()
    {
        QVERIFY(gw->addNode(5));
        Client a;
        QVERIFY(openAt(a));
        const QByteArray init = sdo(a, bytes8({0x40, 0x08, 0x10}));
        QCOMPARE(init.toHex(' '), bytes8({0x41, 0x08, 0x10, 0, kDeviceName.size()}).toHex(' '));
        QByteArray name;
        QList<int> commands;
        for (int toggle = 0; name.size() < kDeviceName.size(); toggle ^= 1) {
            const QByteArray seg = sdo(a, bytes8({0x60 | (toggle << 4)}));
            QCOMPARE(seg.size(), 8);
            commands.append(uchar(seg.at(0)));
            name += seg.mid(1, 7 - ((uchar(seg.at(0)) >> 1) & 7));
        }
        QCOMPARE(name, kDeviceName);
        // 28 bytes: four full segments, the last one marked last.
        QCOMPARE(commands, (QList<int>{0x00, 0x10, 0x00, 0x11}));
        // After the last segment there is no transfer any more.
        QCOMPARE(uchar(sdo(a, bytes8({0x60})).at(0)), uchar(0x80));
    }

    void blockDownload_data()
    {
        QTest::addColumn<int>("blockSize");
        QTest::addColumn<int>("size");
        QTest::addColumn<bool>("crc");
        QTest::addColumn<int>("dropSegment");
        QTest::newRow("block size 7") << 7 << 3000 << false << -1;
        QTest::newRow("block size 1") << 1 << 50 << false << -1;
        QTest::newRow("block size 127, crc") << 127 << 4000 << true << -1;
        QTest::newRow("lost segment is resent") << 7 << 100 << true << 3;
        QTest::newRow("exactly 7 bytes") << 127 << 7 << false << -1;
    }

    void blockDownload()
    {
        QFETCH(int, blockSize);
        QFETCH(int, size);
        QFETCH(bool, crc);
        QFETCH(int, dropSegment);
        QVERIFY(gw->addNode(5, QStringLiteral("blksize=%1").arg(blockSize)));
        QVERIFY(gw->command("LOG all off"));
        Client a;
        QVERIFY(openAt(a));
        QByteArray data(size, '\0');
        for (int i = 0; i < size; ++i)
            data[i] = char((i * 7 + i / 256) & 0xFF);
        QList<int> acks;
        const QByteArray end = blockDownload(a, 0x1F50, 1, data, crc, dropSegment, &acks);
        QCOMPARE(end.toHex(' '), bytes8({0xA1}).toHex(' '));
        const int segments = (size + 6) / 7;
        if (dropSegment < 0) {
            // Every block but the last is acknowledged whole.
            QCOMPARE(acks.size(), (segments + blockSize - 1) / blockSize);
            for (int i = 0; i + 1 < acks.size(); ++i)
                QCOMPARE(acks.at(i), blockSize);
        } else {
            QCOMPARE(acks.first(), dropSegment % blockSize);
        }
        QVERIFY(gw->waitForLine(QStringLiteral("^DOWNLOAD 5 1f50:01 %1 block").arg(size)).hasMatch());
        QCOMPARE(gw->nodeValue(5, 0x1F50, 1), data);
    }

    void blockDownloadErrors()
    {
        QVERIFY(gw->addNode(5, "blksize=7"));
        Client a;
        QVERIFY(openAt(a));
        QList<int> acks;
        // Wrong CRC.
        QCOMPARE(sdo(a, bytes8({0xC6, 0x50, 0x1F, 1, 3})).toHex(' '), bytes8({0xA4, 0x50, 0x1F, 1, 7}).toHex(' '));
        a.write(frameLine(0x605, bytes8({0x81, 1, 2, 3})));
        QCOMPARE(uchar(a.nextFrame(0x585).at(0)), uchar(0xA2));
        QCOMPARE(sdo(a, bytes8({0xC1 | (4 << 2), 0x12, 0x34})).toHex(' '),
                 bytes8({0x80, 0x50, 0x1F, 1, 0x04, 0, 0x04, 0x05}).toHex(' '));
        // The server announces its CRC support to a client without it too
        // (A4h), and then takes the end without checking a CRC.
        QCOMPARE(sdo(a, bytes8({0xC2, 0x50, 0x1F, 1, 3})).toHex(' '), bytes8({0xA4, 0x50, 0x1F, 1, 7}).toHex(' '));
        a.write(frameLine(0x605, bytes8({0x81, 1, 2, 3})));
        QCOMPARE(uchar(a.nextFrame(0x585).at(0)), uchar(0xA2));
        QCOMPARE(sdo(a, bytes8({0xC1 | (4 << 2), 0x12, 0x34})).toHex(' '), bytes8({0xA1}).toHex(' '));
        QCOMPARE(gw->nodeValue(5, 0x1F50, 1), QByteArray::fromHex("010203"));
        QCOMPARE(uchar(sdo(a, bytes8({0xC2, 0x50, 0x1F, 1, 3})).at(0)), uchar(0xA4));
        // A sequence number beyond the block size.
        QCOMPARE(sdo(a, bytes8({0x08})).toHex(' '), bytes8({0x80, 0x50, 0x1F, 1, 0x03, 0, 0x04, 0x05}).toHex(' '));
        // Missing object.
        QCOMPARE(sdo(a, bytes8({0xC2, 0x00, 0x30, 0, 3})).toHex(' '),
                 bytes8({0x80, 0x00, 0x30, 0, 0, 0, 0x02, 0x06}).toHex(' '));
    }

    // A server without CRC support answers A0h and never checks one; a node
    // without block download aborts the initiate 05040001h.
    void blockDownloadServerKinds()
    {
        QVERIFY(gw->addNode(5, "crc=off"));
        QVERIFY(gw->addNode(6, "block=0"));
        Client a;
        QVERIFY(openAt(a));
        QCOMPARE(sdo(a, bytes8({0xC6, 0x50, 0x1F, 1, 3})).toHex(' '), bytes8({0xA0, 0x50, 0x1F, 1, 127}).toHex(' '));
        a.write(frameLine(0x605, bytes8({0x81, 1, 2, 3})));
        QCOMPARE(uchar(a.nextFrame(0x585).at(0)), uchar(0xA2));
        QCOMPARE(sdo(a, bytes8({0xC1 | (4 << 2), 0x12, 0x34})).toHex(' '), bytes8({0xA1}).toHex(' '));
        a.write(frameLine(0x606, bytes8({0xC6, 0x50, 0x1F, 1, 3})));
        QCOMPARE(a.nextFrame(0x586).toHex(' '), bytes8({0x80, 0x50, 0x1F, 1, 0x01, 0, 0x04, 0x05}).toHex(' '));
    }

    void lssConfiguresNodeId()
    {
        QVERIFY(gw->addNode(5));
        Client a;
        QVERIFY(openAt(a));
        auto lss = [&](const QByteArray &request, int timeoutMs = 3000) {
            a.write(frameLine(0x7E5, request));
            return a.nextFrame(0x7E4, timeoutMs);
        };
        const int silence = 200; // for answers that must not come
        // Selective switch needs all four parts of the address, in order.
        a.write(frameLine(0x7E5, bytes8({0x40, 0x33, 0x22, 0x11, 0x00})) + frameLine(0x7E5, bytes8({0x41, 0x11, 0x47})));
        QCOMPARE(lss(bytes8({0x43, 0x05, 0, 0, 0x10}), silence), QByteArray()); // revision left out
        a.write(frameLine(0x7E5, bytes8({0x40, 0x33, 0x22, 0x11, 0x00})) + frameLine(0x7E5, bytes8({0x41, 0x11, 0x47}))
                + frameLine(0x7E5, bytes8({0x42, 0x02, 0, 0x01, 0})));
        QCOMPARE(lss(bytes8({0x43, 0x05, 0, 0, 0x10})).toHex(' '), bytes8({0x44}).toHex(' '));
        QCOMPARE(lss(bytes8({0x5E})).toHex(' '), bytes8({0x5E, 5}).toHex(' '));
        QCOMPARE(lss(bytes8({0x11, 10})).toHex(' '), bytes8({0x11}).toHex(' '));
        QCOMPARE(lss(bytes8({0x11, 0})).toHex(' '), bytes8({0x11, 1}).toHex(' ')); // 0 is no node id
        QCOMPARE(lss(bytes8({0x13, 0, 3})).toHex(' '), bytes8({0x13}).toHex(' '));
        QCOMPARE(lss(bytes8({0x13, 0, 9})).toHex(' '), bytes8({0x13, 1}).toHex(' '));   // no such rate
        QVERIFY(gw->command("NODE SET 5 lssrates=7"));
        QCOMPARE(lss(bytes8({0x13, 0, 4})).toHex(' '), bytes8({0x13, 1}).toHex(' '));   // 125 kbit/s not supported
        QVERIFY(gw->command("NODE SET 5 lssrates=1ffh"));
        QCOMPARE(lss(bytes8({0x17})).toHex(' '), bytes8({0x17}).toHex(' '));
        a.write(frameLine(0x7E5, bytes8({0x04, 0})));
        QVERIFY(gw->waitForLine("^LSS 5 mode waiting$").hasMatch());
        // Still node 5 until communication is reset.
        QCOMPARE(gw->query("NODE STATE 5"),
                 QStringLiteral("id=5 nmt=127 lss=waiting pending=10 stored=10 storedrate=250000 lssrate=250000"));
        a.write("t00028200\r");
        QCOMPARE(a.nextFrame(0x70A), QByteArray(1, '\0'));
        QCOMPARE(sdo(a, bytes8({0x40, 0x00, 0x10}), silence), QByteArray()); // 605h is nobody now
        a.write(frameLine(0x60A, bytes8({0x40, 0x00, 0x10})));
        QCOMPARE(uchar(a.nextFrame(0x58A).at(0)), uchar(0x42));
        // Global switch; configuration commands are ignored in waiting mode.
        QCOMPARE(lss(bytes8({0x5E}), silence), QByteArray());
        a.write(frameLine(0x7E5, bytes8({0x04, 1})));
        QCOMPARE(lss(bytes8({0x5A})).toHex(' '), bytes8({0x5A, 0x33, 0x22, 0x11, 0x00}).toHex(' '));
    }

    void bitRateGatesTraffic()
    {
        QVERIFY(gw->setBitRate("250000"));
        QVERIFY(gw->addNode(5, "boot=0"));
        Client wrong, right;
        QVERIFY(openAt(wrong, "6")); // 500 kbit/s on a 250 kbit/s bus
        QVERIFY(openAt(right, "5"));
        wrong.write("t00028200\r");
        QVERIFY(wrong.collect(200).isEmpty()); // no echo, no boot-up
        QVERIFY(right.collect(0).isEmpty());
        wrong.write("F\r");
        QCOMPARE(wrong.waitFor("\r"), QByteArray("FA0\r"));
        right.write("t1232aabb\r");
        QCOMPARE(right.waitFor("\r"), QByteArray("et1232aabb\r"));
        QVERIFY(wrong.collect(100).isEmpty());

        wrong.write("C\rS5\rO\rt00028200\r");
        QCOMPARE(wrong.waitFor("et00028200\r"), QByteArray("\r\r\ret00028200\r"));
        QCOMPARE(wrong.nextFrame(0x705), QByteArray(1, '\0'));
    }
};

ZOR_TEST(TestSimGateway)
#include "tst_simgateway.moc"
