// The line-oriented ASCII protocol that four drivers share with their
// adapters: the CAN-over-TCP driver over a TCP stream, the serial-line driver
// over an FTDI byte stream and the two USB HID drivers inside HID reports.
//
// Every command and reply line ends with CR. The PC sends "O\r" (on the bus),
// "C\r" (off the bus), "S<code>\r" (bit rate), "F\r" (status flags) and
// frames such as "t60184000100000000000\r" (t, 3-digit identifier 601, length
// 8, the data bytes as hex digits). The adapter answers with frame lines
// ("t", "T" 29-bit, "r"/"R" remote, optionally "e" in front for the echo of a
// frame it sent for the PC, optionally 4 digits of millisecond time stamp at
// the end), "F" with a status byte, BEL for a refused command and XON/XOFF
// for flow control.
//
// The static part builds commands; an instance is the receiving side of one
// connection: it keeps the incomplete tail of what arrived and parses each
// complete line into a frame structure. Drivers differ in a few choices
// (echo lines, flow control, which status bit a BEL sets), given as options.
#pragma once

#include "zorbabelfish.h"

#include <QByteArray>
#include <QString>

class ZorAsciiAdapterProtocol
{
public:
    static constexpr char CR = '\r';
    static constexpr char BEL = 0x07;
    static constexpr char XON = 0x11;
    static constexpr char XOFF = 0x13;
    static constexpr char ECHO_MARK = 'e';

    // Longest line the adapter sends ("eT" + 8 + 1 + 16 + 4 digits); a line
    // far beyond this is garbage: it is ignored, and a tail this long
    // without CR is dropped together with the rest of its line.
    static constexpr int MaxPendingText = 1024;

    static QByteArray openCommand() { return QByteArrayLiteral("O\r"); }
    static QByteArray closeCommand() { return QByteArrayLiteral("C\r"); }
    static QByteArray statusCommand() { return QByteArrayLiteral("F\r"); }
    static QByteArray versionCommand() { return QByteArrayLiteral("V\r"); }
    static QByteArray serialNumberCommand() { return QByteArrayLiteral("N\r"); }
    static QByteArray timestampCommand(bool on) { return on ? "Z1\r" : "Z0\r"; }

    // Bit-rate code for "S<code>\r": 1 for 20000, 2 for 50000, 3 for 100000,
    // 4 for 125000, 5 for 250000, 6 for 500000, 7 for 800000, 8 for 1000000
    // bit/s; -1 for any other rate, which the adapter cannot run.
    static int bitRateCode(int bitRate);
    static QByteArray bitRateCommand(int code);
    // The text a driver reports when bitRateCode refuses a rate.
    static QString unsupportedBitRateText(int bitRate);

    // The command that sends one frame: "t%1%2%3\r", "T...", "r%1%2\r" or
    // "R%1%2\r" by the frame's extended and remote flags; identifier in
    // lower-case hex (3 or 8 digits), the length digit, the data bytes as
    // lower-case hex pairs. withRemoteData adds the data digits to remote
    // frames too (the serial-line adapter expects them). Empty for a frame
    // that cannot be written: length above 8, or an identifier that does not
    // fit 11 (29) bits.
    static QByteArray frameCommand(const VSCAN_MSG &frame, bool withRemoteData = false);
    // Appends frameCommand to out; false (out unchanged) when it is empty.
    static bool appendFrameCommand(QByteArray &out, const VSCAN_MSG &frame,
                                   bool withRemoteData = false);

    enum LineKind { LineIgnored, LineFrame, LineStatus };
    // One reply line without its CR: a frame (into frame), a status reply
    // (its byte into status) or a line to ignore. With acceptEchoes an "e"
    // in front is dropped and gives the frame flag 0x80; without it such a
    // line is ignored.
    static LineKind parseLine(const char *line, int length, bool acceptEchoes, VSCAN_MSG &frame,
                              quint8 &status);
    static LineKind parseLine(const QByteArray &line, bool acceptEchoes, VSCAN_MSG &frame,
                              quint8 &status)
    {
        return parseLine(line.constData(), line.size(), acceptEchoes, frame, status);
    }

    // Receiving side.
    ZorAsciiAdapterProtocol() = default;

    // Echo lines ("e" in front) give frames flagged 0x80 (default false).
    void setAcceptEchoes(bool on) { m_acceptEchoes = on; }
    // XON and XOFF end a line like CR, and the last of them decides
    // transmitAllowed (default false).
    void setFlowControl(bool on) { m_flowControl = on; }
    // Status bit set when the adapter sends BEL (command error).
    void setCommandErrorBit(quint32 bit) { m_commandErrorBit = bit; }
    // Status bit set when the frame array is full and a frame is dropped.
    void setOverflowBit(quint32 bit) { m_overflowBit = bit; }
    // Instead of dropping frames when the array is full, stop parsing and
    // keep the remaining lines for the next feed (default false). For
    // streams that the driver reads at its own pace, so nothing is lost.
    void setKeepWhenFull(bool on) { m_keepWhenFull = on; }

    // Forgets the unparsed tail (also of an overlong line) and the
    // flow-control state.
    void reset();
    // Appends bytes (Latin-1), then parses every complete line: frames go to
    // frames[count], count growing up to capacity (beyond it frames are
    // dropped and the overflow bit is set, or with keepWhenFull parsing
    // stops); "F" replies and BEL are ORed into statusFlags. Returns the
    // number of frames added.
    int feed(const QByteArray &bytes, VSCAN_MSG *frames, int capacity, int &count,
             quint32 &statusFlags);
    // With flow control: false after XOFF until the next XON.
    bool transmitAllowed() const { return m_xon; }
    // Received text not yet parsed (an incomplete last line, and with
    // keepWhenFull the lines that did not fit).
    const QByteArray &pendingText() const { return m_pending; }
    // The pending text holds at least one complete line.
    bool hasCompleteLine() const;

private:
    QByteArray m_pending;
    bool m_acceptEchoes = false;
    bool m_flowControl = false;
    bool m_keepWhenFull = false;
    bool m_discarding = false;   // inside an overlong line, up to its CR
    bool m_xon = true;
    quint32 m_commandErrorBit = 0;
    quint32 m_overflowBit = 0x1;
};
