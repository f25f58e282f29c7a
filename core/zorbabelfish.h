// Conversions between the texts people and files use and the values the
// program works on: number texts, data-object ids, CANopen names, CAN frame
// texts and 16-byte frame records, and the value macros of frame templates.
//
// The static functions are pure and may be called from any thread. Every
// reader reports bad input through its bool result or its `ok` flag; none
// turns malformed text into 0 silently.
//
// A ZorBabelFish object owns one script engine for the value macros
// (canid(...), canunsigned8(...) ...) and for free expressions. Definitions
// made by one expression stay visible to later ones of the same object. The
// engine is created on first use, in the thread that uses it, and all use of
// it is serialised by the object's own mutex, so an object built in one
// thread may be used in another and objects of different threads run
// independently.
#pragma once

#include "vscan_msg.h"

#include <QByteArray>
#include <QDateTime>
#include <QScriptValue>
#include <QString>
#include <QStringList>
#include <memory>
#include <mutex>

class QAbstractItemModel;
class QModelIndex;
class QScriptEngine;

class ZorBabelFish
{
public:
    // Text constants shared by the conversions and the rest of the program.
    static constexpr const char TimeStampFormat[] = "yyyy-MM-dd hh:mm:ss.zzz";
    static constexpr const char HexSuffix[] = "h";
    static constexpr const char HexPrefix[] = "0x";
    static constexpr const char BinPrefix[] = "0b";
    static constexpr const char DataBytePattern[] = "%1 %2 %3 %4 %5 %6 %7 %8";
    static constexpr const char FiveValuePattern[] = "%1 %2 %3 %4 %5";
    static constexpr const char PartSeparator[] = " # ";

    ZorBabelFish();
    ~ZorBabelFish();
    Q_DISABLE_COPY(ZorBabelFish)

    // ---- Number texts -------------------------------------------------
    // The trimmed text is hexadecimal when it ends with "h" or starts with
    // "0x", binary when it starts with "0b", else decimal. Markers and
    // hexadecimal digits are read in either letter case ("0X1F", "1FH"). A
    // text that is not a number in its notation gives 0 and sets ok to false.
    // stringToLong reads hexadecimal and binary as 64-bit numbers and keeps
    // the low 32 bits ("0xffffffff" is -1); decimal must fit 32 bits signed.
    static qint32 stringToLong(const QString &text, bool *ok = nullptr);
    // Unsigned 32-bit in every notation; a value that does not fit fails.
    static quint32 stringToULong(const QString &text, bool *ok = nullptr);
    // The low 16 or 8 bits of stringToLong / stringToULong.
    static qint16 stringToShort(const QString &text, bool *ok = nullptr);
    static quint16 stringToUShort(const QString &text, bool *ok = nullptr);
    static qint8 stringToByte(const QString &text, bool *ok = nullptr);
    static quint8 stringToUByte(const QString &text, bool *ok = nullptr);

    // Hexadecimal (or binary) digits without marker, as wide as the CANopen
    // data type: 2 (8) digits for types 2 and 5, 4 (16) for 3 and 6, else 8 (32).
    static QString fromCanValueToHexStr(int value, int dataType);
    static QString fromCanValueToBitStr(int value, int dataType);

    // Bit rates with "K" (thousand) or "M" (million): "500K" <-> 500000.
    // Reading gives 0 with ok false for a text that is not such a number.
    static quint32 fromSuffixedStrToNumber(const QString &text, bool *ok = nullptr);
    static QString fromNumberToSuffixedStr(quint32 number);

    // ---- Data-object ids: "001.60ffh.00h" (node.index.subindex) ---------
    static QString dataObjectId(quint32 nodeId, quint16 index, quint8 subIndex);
    // Shape test only: at least 13 characters, exactly two points, at the
    // 10th and the 4th position from the end.
    static bool isDataObjectId(const QString &text);
    // Stores the three numbers (0 for a piece that does not read) and returns
    // true when the text has the shape of an id and all three pieces read.
    static bool fromDataObjectId(const QString &text, quint32 &nodeId, quint16 &index,
                                 quint8 &subIndex);
    // "005.108fh.feh" -> "5,108fh,feh", the argument text of an SDO line.
    // ok is false (the node written as 0) when the text is no valid id.
    static QString fromDataObjectIdToSdoString(const QString &text, bool *ok = nullptr);

    // ---- CANopen names ("" for an unknown code or a text that is no number)
    static QString objectCodeName(const QString &code);
    // BOOLEAN (1) to UNSIGNED64 (1Bh).
    static QString dataTypeName(const QString &code);

    // ---- Fields of list lines ------------------------------------------
    // Object lists ("001.2006h.00h,visible_string,Pump # name") separate
    // their fields by "," and end a command at "#"; interview lines
    // ("SDOWriteObject:1000:1:1,2006h,00h,...") separate them by ":" as well.
    // A value holding a separator or a double quote, or beginning or ending
    // with a blank, travels as a quoted field: in double quotes, each quote
    // in it doubled (Pump #2 becomes "Pump #2", say "hi" becomes
    // "say ""hi"""). quoteColons: the field goes into an interview line.
    // A quoted field begins with its quote (blanks before it allowed) at the
    // start of the text or right after a "," or ":"; a quote anywhere else
    // is a plain character, so unquoted texts read as they always did.
    static QString quoteField(const QString &text, bool quoteColons = false);
    // The text of a field: a quoted field without its quotes and with its
    // doubled quotes made single; any other field as it stands.
    static QString unquoteField(const QString &field);
    // The position of the first `c` at or after `from` that is not inside a
    // quoted field; -1 when there is none.
    static int indexOutsideQuotes(const QString &text, QChar c, int from = 0);
    // The text split at every `separator` outside quoted fields; the fields
    // as they stand (neither trimmed nor unquoted).
    static QStringList splitOutsideQuotes(const QString &text, QChar separator);

    // ---- Item-model positions: "MIDX-2-0-5-1" ---------------------------
    static QString fromModelIndexToKey(const QModelIndex &index);
    // An invalid index when the key does not start with "MIDX-" or holds a
    // piece that is not a number.
    static QModelIndex fromKeyToModelIndex(const QAbstractItemModel *model, const QString &key);

    // Moves a time onto the grid of `periodMs` milliseconds counted from
    // local midnight of 1 January of the previous year; a time on the grid
    // (or a period below 1) comes back unchanged.
    static QDateTime roundDateTime(const QDateTime &time, int periodMs, bool up);

    // ---- Frame records: 16 bytes, Id little-endian at 0, Size at 4, Data at
    // 5..12, Flags at 13, Timestamp high byte first at 14..15 --------------
    static bool fromVscanToQbytearray(const VSCAN_MSG &frame, QByteArray &record);
    // False, frame untouched, when the array is not 16 bytes.
    static bool fromQbytearrayToVscan(const QByteArray &record, VSCAN_MSG &frame);

    // Field readers: 0 or "" when the array is not 16 bytes.
    static quint32 fromQbytearrayToCanId(const QByteArray &record);
    static quint8 fromQbytearrayToFlags(const QByteArray &record);
    static quint16 fromQbytearrayToTimestamp(const QByteArray &record);
    // Sets the time stamp field; false, record untouched, when the array is
    // not 16 bytes.
    static bool setQbytearrayTimestamp(QByteArray &record, quint16 stamp);
    static quint8 fromQbytearrayToSdoCommand(const QByteArray &record);
    static quint16 fromQbytearrayToSdoIndex(const QByteArray &record);
    static quint8 fromQbytearrayToSdoSubindex(const QByteArray &record);
    // "Rext 21386h", "ext 1234abcdh", "R 181h" or "181h".
    static QString fromQbytearrayToCanIdStr(const QByteArray &record);
    // "01 00 02 00": as many bytes as the length says (eight at most).
    static QString fromQbytearrayToDataStr(const QByteArray &record);

    // The bytes from offset 5 on, as many as the byte at offset 4 says; false,
    // data untouched, when the array is shorter than that.
    static bool fromQbytearrayToDataPart(const QByteArray &record, QByteArray &data);

    // ---- Frame text: "ext 1234abcdh,8,7f 80 81 82 83 84 85 86,513" ---------
    // False, text untouched, when the array is not 16 bytes.
    static bool fromQbytearrayToCanStr(const QByteArray &record, QString &text);
    // False, record untouched, when the identifier or the length is not a
    // number or a time stamp is given that is not a 16-bit decimal number.
    static bool fromCanStrToQbytearray(const QString &text, QByteArray &record);
    // All data bytes of the third field; true (and data set) when the length
    // field reads and equals their count.
    static bool fromCanStrToDataPart(const QString &text, QByteArray &data);

    // Little-endian readers over any byte array; false, value untouched, when
    // the offset is negative or the value would reach past the end.
    static bool fromDataPartToUnsigned32(const QByteArray &data, quint32 &value, int offset = 0);
    static bool fromDataPartToInteger32(const QByteArray &data, qint32 &value, int offset = 0);
    static bool fromDataPartToUnsigned16(const QByteArray &data, quint16 &value, int offset = 0);
    static bool fromDataPartToInteger16(const QByteArray &data, qint16 &value, int offset = 0);
    static bool fromDataPartToUnsigned8(const QByteArray &data, quint8 &value, int offset = 0);
    static bool fromDataPartToInteger8(const QByteArray &data, qint8 &value, int offset = 0);

    // ---- Value macros and expressions --------------------------------------
    // Evaluates the text in this object's engine (global scope). Gives the
    // engine's result, an error value when the text fails. Numbers, texts,
    // booleans, null and undefined come back free of the engine.
    QScriptValue evaluateExpression(const QString &expression);
    // Replaces every value macro in the text by the hexadecimal text of its
    // value. Returns false when an expression failed (its macro then writes
    // zeros), when a macro word is not followed by "(" at once (everything up
    // to the next "(" is then taken as the name and the plain value written)
    // or when a macro word is left without its parentheses.
    bool resolveCanMacros(QString &text);
    // Resolves the macros of a copy of the text and reads its hexadecimal
    // digits in pairs (from the end; other characters skipped) into bytes.
    QByteArray fromMacroStrToQbytearray(const QString &text, bool *ok = nullptr);
    // The next macro to replace: the first word of the fixed list canid,
    // canunsigned8, canunsigned16, canunsigned32, caninteger8, caninteger16,
    // caninteger32 that occurs; name runs from the word up to the next "(",
    // argument up to the first ")" after it. False when no word occurs or it
    // lacks its parentheses (start is then the word's position or -1).
    static bool findCanMacro(const QString &text, QString &name, QString &argument, int &start,
                             int &end);

private:
    QScriptEngine *engineLocked();
    QScriptValue evaluateLocked(const QString &expression, bool *failed);
    bool resolveLocked(QString &text);

    std::mutex m_mutex;
    std::unique_ptr<QScriptEngine> m_engine;
};
