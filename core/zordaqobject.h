// ZorDaqObject: one entry of a monitoring list, a data object of a node that
// is sampled cyclically for the data log and the plots.
//
// Its one-line text form travels in KM_DAQ_CONFIG messages between the
// data-log side and the CANopen gateway, one line per object:
//
//   data-object id, name, data type, method, interval in ms [, 0|1]
//   001.6064h.00h,Position actual value,integer32,TPDO1.0.4,100
//   001.6064h.00h,Position actual value,integer32,Software,250,1
//
// The method is "Off", "Software", "TPDO", "RPDO" or "Hardware" (read by
// prefix, any case; anything else is "Software"); for the PDO methods it
// carries the PDO number, the byte offset and the byte length of the value
// ("TPDO1.0.4"). The interval is kept within 50..60000 ms. The optional sixth
// field marks a logged channel. Fields are not quoted: a comma in a name or
// type becomes ";" and a line break a blank, so that an entry stays one line
// of five or six fields.
//
// It lives in core because the gateway (canbus) samples by it and must not
// depend on the models library; the object-table models use it from here.
#pragma once

#include <QHash>
#include <QString>

class ZorDaqObject
{
public:
    enum MonitorMethod { Off = 0, Software = 1, Tpdo = 2, Rpdo = 3, Hardware = 4 };

    // Set by the gateway while the entry sits in its sampling table: seen for
    // every configured object, active for those that are really sampled.
    bool seen = false;
    bool active = false;

    ZorDaqObject();
    explicit ZorDaqObject(const QString &line);

    QString toString() const;

    void setName(const QString &name);
    void setDataObjectId(const QString &id);
    void setDataType(const QString &type);
    void setInterval(int ms);
    void setMonitorMethod(const QString &text);
    void setMonitorMethod(int method) { setMonitorMethod(methodName(method)); }

    QString name() const { return m_name; }
    QString dataObjectId() const { return m_dataObjectId; }
    QString dataType() const { return m_dataType; }
    int intervalMs() const { return m_intervalMs; }
    QString methodText() const { return m_methodText; }
    int method() const { return m_method; }
    int pdoNumber() const { return m_pdoNumber; }
    int pdoByteOffset() const { return m_pdoByteOffset; }
    int pdoByteLength() const { return m_pdoByteLength; }
    bool isUnsigned() const { return m_isUnsigned; }
    // 4, 2 or 1 for the six integer types, else 0.
    int typeSize() const { return m_typeSize; }
    bool hasTypeSize() const { return m_typeSize > 0; }
    bool idValid() const { return m_idValid; }
    int nodeId() const { return m_nodeId; }
    int index() const { return m_index; }
    quint8 subIndex() const { return m_subIndex; }
    bool hasFlag() const { return m_hasFlag; }
    bool flag() const { return m_flag; }

    static QString methodName(int method);
    static QString defaultMethodName() { return QStringLiteral("Software"); }
    static int methodFromText(const QString &text);
    // Line-feed separated lines, keyed by data-object id (a later line with
    // the same id replaces an earlier one).
    static QHash<QString, ZorDaqObject> listFromText(const QString &text);
    // Every entry's line followed by a line feed.
    static QString listToText(const QHash<QString, ZorDaqObject> &list);

private:
    bool m_hasFlag = false;
    bool m_flag = false;
    QString m_name;
    QString m_dataObjectId;
    QString m_dataType;
    int m_intervalMs = 100;
    QString m_methodText = QStringLiteral("Software");
    int m_method = Software;
    int m_pdoNumber = 1;
    int m_pdoByteOffset = 0;
    int m_pdoByteLength = 0;
    bool m_isUnsigned = false;
    int m_typeSize = 0;
    bool m_idValid = false;
    int m_nodeId = 0;
    int m_index = 0;
    quint8 m_subIndex = 0;
};
