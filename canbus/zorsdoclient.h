// The CANopen gateway's SDO client for single objects: reading and writing
// one object of one node ("SDOReadObject", "SDOWriteObject" lines).
//
// An SDO transfer is a dialogue between the gateway (client) and the node's
// SDO server on two COB-IDs: requests on request base + node (600h + node by
// default), answers on response base + node (580h + node). Integer objects
// travel expedited, the value in the initiate frame itself; visible strings
// travel segmented, seven bytes a segment with an alternating toggle bit. The
// node may abort any transfer with a four-byte abort code, which is reported
// as "error code %1h".
//
// ZorSdoClient serves one line at a time. startRead / startWrite give the
// first exchange (one "CAN" line, see zorcanexchange.h); every answer of the
// CAN interface to that exchange goes to handleAnswer, which either sends the
// next exchange (the next segment) or answers the served line.
//
// Each exchange expects exactly the answer that belongs to the transfer: an
// initiate answer by its command specifier and the object's index and
// subindex (or the node's abort of that object), a segment answer by its
// command specifier. Any other frame on the node's answer COB-ID (the answer
// to another client's request, a late answer) is not taken. An abort that
// the node sends while segments are under way is seen in the received frames
// (abortReceived) and ends the transfer when it names the transfer's object.
// An exchange that ends without answer ends the transfer (the node is told
// so when it is inside a segmented transfer); the served line then ends by
// its own time-out. Results are
// texts: the address "node,indexh,subh" (node decimal, index and subindex in
// lower-case hexadecimal without leading zeros) followed by "ok", by the type
// and the value read, or by "error code %1h".
//
// Values to write are read with the number readers (decimal, "…h", "0x…",
// "0b…") and must fit the data type; their bytes go into the frame directly.
// A value that does not read or fit is refused; nothing is ever written by
// accident and no value text is evaluated.
#pragma once

#include <QByteArray>
#include <QString>
#include <QStringList>

struct ZorSdoAddress
{
    quint8 node = 0;
    quint16 index = 0;
    quint8 subIndex = 0;
    QString dataType;   // lower case
    QString value;      // the fifth and later fields, as given (a quoted field unquoted)
};

class ZorSdoClient
{
public:
    // Abort codes the client itself sends (CiA 301).
    enum AbortCode : quint32 {
        ToggleNotAlternated = 0x05030000,
        ProtocolTimedOut = 0x05040000,
        OutOfMemory = 0x05040005,
        GeneralError = 0x08000000,
    };

    // What to do after an exchange answer.
    struct Step
    {
        // Exchange text to send next (empty: none).
        QString exchange;
        // Answers to offer to the served line, in turn: the first that fits
        // its expected answer completes it.
        QStringList answers;
        bool failed = false;
        bool finished = false;   // the served line is answered
    };

    void setBases(quint16 requestBase, quint16 responseBase);
    quint16 requestBase() const { return m_requestBase; }
    quint16 responseBase() const { return m_responseBase; }

    // Splits "node,index,subindex,type[,value...]": node 1..127, index and
    // subindex read by the number readers, the type folded to lower case,
    // the value taken as written (a quoted field, "\"a:b, c\"", without its
    // quotes). False when an address field is wrong.
    static bool parseAddress(const QString &request, ZorSdoAddress &address);
    // "47,60ffh,0h" and, with a fourth field, "47,60ffh,0h,ok".
    static QString addressText(int node, int index, int subIndex);
    static QString addressText(int node, int index, int subIndex, const QString &fourth);
    // Size in bytes of an integer type (4, 2, 1), 0 for "visible_string",
    // -1 for a type the client does not know.
    static int typeSize(const QString &type);
    static bool isSignedType(const QString &type);
    // The little-endian bytes of a value of an integer type; false when the
    // text is no number or the number does not fit the type. Decimal values
    // must lie in the type's range; hexadecimal and binary values are bit
    // patterns of the type's width ("ffh" is -1 as "integer8").
    static bool encodeValue(const QString &type, const QString &text, QByteArray &bytes);
    // "abort code" as the result text: "error code 06020000h".
    static QString errorText(quint32 abortCode);

    // The expected answer of a served read line: the address and type with
    // "*" when the line has none; an expected value given in any notation is
    // rewritten in decimal, the way answers carry it.
    static QString readPattern(const ZorSdoAddress &address, const QString &given);
    // The expected answer of a served write line that has none: "node,indexh,subh,*".
    static QString writePattern(const ZorSdoAddress &address);

    // Starts serving a read; false (line refused) for an unknown type.
    bool startRead(const ZorSdoAddress &address, int timeoutMs, QString &exchange);
    // Starts serving a write. False with an empty error: the line is refused
    // (unknown type). False with an error text: the line is answered failed
    // with it (the value does not read or fit). With noResponse the exchange
    // awaits no answer from the node.
    bool startWrite(const ZorSdoAddress &address, int timeoutMs, bool noResponse, QString &exchange,
                    QString &error);

    // One answer of the CAN interface to the running exchange: its text (the
    // completed lines) and whether it ended KS_ANSWER.
    Step handleAnswer(const QString &answerText, bool exchangeOk);
    // A frame received while the transfer runs. True when it is the node's
    // abort of this transfer's object: the transfer is over and step answers
    // the served line.
    bool abortReceived(quint32 cobId, const QByteArray &data, Step &step);
    // The transfer is given up (its exchange brought nothing it can use).
    void abandon() { m_service = None; }

    // A transfer runs: its exchanges are under way.
    bool isBusy() const { return m_service != None; }
    // It is past its initiate: segments are under way.
    bool inSegments() const { return m_service != None && m_inSegments; }
    bool isReading() const { return m_service == Read; }
    bool isWriting() const { return m_service == Write; }
    const ZorSdoAddress &address() const { return m_address; }

    // Upload commands an answer of this type must carry (0x43/0x4B/0x4F for
    // the integer types, 0x41 for visible strings; 0 for other types).
    static quint8 uploadCommand(const QString &type);

private:
    enum Service { None, Read, Write };

    QString requestFrame(const QByteArray &data) const;
    // Expected answers: the node's answer to an initiate of this object with
    // the command pattern given ("[458]?" upload, "[68]0" download: the
    // answer or the abort), and segment answers by command pattern.
    QString initiateAnswer(const QString &command) const;
    QString segmentAnswer(const QString &command) const;
    QString abortExchange(quint32 code) const;
    Step failWith(quint32 code, bool sendAbort);
    Step readAnswer(quint8 command, const QByteArray &data, int node);
    Step writeAnswer(quint8 command, const QByteArray &data, int node, bool exchangeOk);
    Step nextUploadSegment();
    Step nextDownloadSegment();
    Step finishString();

    quint16 m_requestBase = 0x600;
    quint16 m_responseBase = 0x580;
    Service m_service = None;
    ZorSdoAddress m_address;
    int m_timeoutMs = 1000;
    quint8 m_expectedCommand = 0;
    // Segmented transfers.
    bool m_inSegments = false;  // the initiate request was answered
    QByteArray m_buffer;        // upload: received so far; download: all to send
    qint64 m_size = -1;         // upload: size the node indicated, -1 unknown
    int m_sent = 0;             // download: bytes sent
    int m_toggle = 0;
};
