// Exchange lines of kind "CAN": how the CANopen gateway has its CAN interface
// send a frame and wait for the answer frame, and how it reads the completed
// lines that come back.
//
//   CAN:<time-out ms>:<count>:<request frame>:<expected frame | noresponse>
//   CAN:1000:0:601h,8,40 00 10 00 00 00 00 00:581h,8,?? 00 10 00 ?? ?? ?? ??
//
// Frames are CAN frame texts: the identifier in lower-case hexadecimal with a
// trailing "h", the data length, the data bytes as two-digit lower-case
// hexadecimal separated by blanks. In an expected frame "??" stands for any
// byte. A completed line carries the received frame in place of the expected
// one, or nothing after its last colon when none came. The gateway writes
// every line with count 0: one attempt; retrying is the gateway's business.
//
// These texts are built directly, never through the value macros, so no text
// that reaches the gateway from outside is ever evaluated.
#pragma once

#include <QByteArray>
#include <QString>
#include <QVector>
#include <initializer_list>

class ZorCanExchange
{
public:
    static const QString Kind;          // "CAN"
    static const QString NoResponse;    // "noresponse"
    // A byte of an expected frame that may take any value.
    static constexpr int AnyByte = -1;

    // "601h"
    static QString idText(quint32 cobId);
    // "40 00 10 00": two lower-case hexadecimal digits a byte, blank-separated.
    static QString bytesText(const QByteArray &bytes);
    // "601h,8,40 00 10 00 00 00 00 00"
    static QString frameText(quint32 cobId, const QByteArray &data);
    // An expected frame: bytes of 0..255, or AnyByte for "??".
    static QString patternText(quint32 cobId, const QVector<int> &bytes);
    static QString patternText(quint32 cobId, std::initializer_list<int> bytes)
    {
        return patternText(cobId, QVector<int>(bytes));
    }
    // An expected frame whose first byte (the command of an SDO or LSS
    // answer) is given as a pattern of two characters, each a hexadecimal
    // digit, "?" or a set such as "[a8]": "[a8][04]" takes a0, a4 and the
    // abort 80 (and 84, which no server sends). The other bytes as above.
    static QString patternText(quint32 cobId, const QString &firstByte, std::initializer_list<int> rest);
    // "CAN:<timeoutMs>:0:<request>:<expected>" and a line feed.
    static QString line(int timeoutMs, const QString &request, const QString &expected);

    // The eight data bytes of an SDO or LSS frame, the missing ones zero.
    static QByteArray bytes8(std::initializer_list<int> bytes);
    static void putUnsigned(QByteArray &data, int offset, quint32 value, int size);
    static quint32 getUnsigned(const QByteArray &data, int offset, int size);

    // The received frame of one completed line (its fifth colon field): true,
    // with identifier and data, when that field is a frame text.
    static bool answerFrame(const QString &resultLine, quint32 &cobId, QByteArray &data);
    // The lines of an exchange answer (the data of a KM_INTERVIEW answer).
    static QStringList resultLines(const QString &answerText);
};
