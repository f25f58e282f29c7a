// Object lists: the texts with which a panel, a model or another module asks
// a node module to write or read a set of objects (KM_OBJLIST_WRITE,
// KM_OBJLIST_READ), and the interviews the node sends its CANopen gateway
// for them.
//
// An object list holds one command per line, each optionally followed by
// "#" and a comment:
//
//   001.60ffh.00h,integer32,-200      data-object id, type, value (to write)
//   w,1010h,1h,unsigned32,0x65766173  access, index, subindex, type, value
//   StoreCmd / ResetCmd               the node's property of that name
//   (empty)                           nothing to do
//
// The value is the rest of the command after the type. A value that holds
// "," or "#" (a text such as "Pump #2") comes as a quoted field
// (ZorBabelFish::quoteField); results carry values and error texts the same
// way, so every text reads back as the node holds it. A value that holds
// ":" goes to the gateway quoted as well.
//
// A first line beginning "SilentReadWrite" asks the node to work without
// status texts. Every line becomes one interview line: "SDOWriteObject"
// (1000 ms, one retry), "SDOReadObject" (750 ms, no retry) or "Wait:0:0" for
// a line that must not reach the node (empty, a write without value, a write
// to an object whose access word has no "w", a read of a "wo" object). Lists
// of two or more lines run with "OnErrorContinue", so that one failed object
// does not keep the others from being served.
//
// The gateway's answer is paired line by line with the list as the node
// normalised it, and becomes the result lines sent back to the requester:
//
//   001.60ffh.00h,integer32,-200,        written (empty result field)
//   001.1000h.00h,unsigned32,131474      read, the value after the type
//   001.1000h.00h,unsigned32,,timeout    read failed, the error after an
//                                        empty value field
//
// An SDO abort ("error code 06020000h") is rewritten with the explaining
// texts of the node's "ErrorTexts" property. Everything here is plain text
// work: the node states (zornodestates.h) own the queue, the time budget and
// the messages.
#pragma once

#include <QString>
#include <QStringList>

class ZorObjectList
{
public:
    // What a list's commands are expanded and completed with.
    struct Context
    {
        int nodeId = 0;          // the module's "NodeId"
        QString storeCmd;        // "StoreCmd", "AccessKeySet" already replaced
        QString resetCmd;        // "ResetCmd", likewise
    };

    struct Interview
    {
        QString text;            // the interview lines, each ended by "\n"
        QString list;            // the list as normalised, one line per command
        int budgetMs = 0;        // how long the whole interview may take (at
                                 // most the largest int: about 24 days)
    };

    struct Result
    {
        QString text;            // the result lines, each ended by "\n"
        bool failed = false;     // at least one line failed
    };

    static const char SilentMarker[];    // "SilentReadWrite"

    // True when the list begins with the silent marker.
    static bool isSilent(const QString &list);
    // True when the text is a CiA 311 XML object table rather than lines.
    static bool isObjectTable(const QString &text);

    // The interview for a list and a request type (KM_OBJLIST_WRITE or
    // KM_OBJLIST_READ). Each line costs (retries + 1) x time-out x 2 ms of
    // the budget, so a write line 4000 ms, a read line 1500 ms and a
    // "Wait:0:0" line 2 ms.
    static Interview build(const QString &list, int msgType, const Context &context);

    // The result lines of an interview answer (its data and state) for the
    // normalised list it was built from. Answer lines beyond the list are
    // dropped; fewer answer lines give fewer result lines.
    static Result results(const QString &answer, int answerState, const QString &list, int msgType,
                          const QString &errorTexts);

    // An error text holding the gateway's "error code <n>" with the code
    // explained by the "ErrorTexts" lines ("key,text"; key "bitN" matches
    // when bit N of the code is set, any other key when it is the code
    // itself): "<text before>error <texts> (<code>h)". Other texts come back
    // unchanged.
    static QString explainErrorCode(const QString &text, const QString &errorTexts);

    // Command and comment of one list line (both trimmed).
    static void splitLine(const QString &line, QString &command, QString &comment);
};
