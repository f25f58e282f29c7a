#include "zormessage.h"

#include "zorbabelfish.h"

#include <QHash>
#include <QVector>
#include <atomic>

namespace {

// The process-wide message counter; the first message of a run gets 1.
std::atomic<int> messageCounter{0};

int nextMessageId()
{
    return messageCounter.fetch_add(1, std::memory_order_relaxed) + 1;
}

// The four name tables, filled once on first use (thread-safe static
// initialisation) and read-only afterwards.
struct NameTables
{
    QVector<QString> typeNames;
    QVector<QString> stateNames;
    QHash<QString, int> typeCodes;
    QHash<QString, int> stateCodes;

    NameTables()
    {
        static const char *const types[] = {
            "KM_UNDEFINED", "KM_WHOAMI", "KM_GETPROPERTY", "KM_SETPROPERTY",
            "KM_GETALLPROPERTIES", "KM_STATUS", "KM_INFOTEXT", "KM_LOGTEXT", "KM_INTERVIEW",
            "KM_CANCEL_INTERVIEWS", "KM_SNIFFER_SET", "KM_SNIFFER_MSG",
            "KM_AUTOMATION_SNIFFER_MSG", "KM_PROGRESS", "KM_PREPARE_TO_SAVE", "KM_DROP_DATA",
            "KM_START", "KM_STOP", "KM_APPLICATION_CONTROL", "KM_COMM_OPEN", "KM_COMM_CLOSE",
            "KM_COMM_STATUS", "KM_COMM_SET_BAUD", "KM_COMM_DATA", "KM_CAN_FRAME",
            "KM_PLAYERCMD_PLAY", "KM_PLAYERCMD_STOP", "KM_PLAYERCMD_PAUSE", "KM_PLAYERCMD_SKIP",
            "KM_PLAYERCMD_BACK", "KM_PLAYER_STATUS", "KM_DRIVE_START", "KM_DRIVE_STOP",
            "KM_DRIVE_STATUS", "KM_SET_PROFILE_MODE", "KM_GET_ACTUAL_VELOCITY",
            "KM_GET_ACTUAL_POSITION", "KM_DRIVE_NEW_ID", "KM_DRIVE_NEW_COMM_PARAMETERS",
            "KM_DRIVE_RESET", "KM_DRIVE_GO_TO_TARGET", "KM_DRIVE_GO_TO_EXTENDED",
            "KM_DRIVE_START_HOMING", "KM_DRIVE_DOWNLOAD_START", "KM_OBJLIST_WRITE",
            "KM_OBJLIST_READ", "KM_DIALOG", "KM_ASSIGN_SLAVES", "KM_NEW_POSITION_RUN",
            "KM_CANOPEN_BOOTUP", "KM_CANOPEN_EMERGENCY", "KM_DAQ_DATA", "KM_DAQ_CONFIG",
            "KM_DAQ_SHARED_IDS_LIST", "KM_DAQ_CONTROL", "KM_SCRIPT_CONTROL", "KM_SCRIPT_MSG",
            "KM_MASTER_OUT"};
        static const char *const states[] = {"KS_INFO",   "KS_REQUEST", "KS_WAITING",
                                             "KS_ANSWER", "KS_REJECT",  "KS_FAIL",
                                             "KS_TIMEOUT", "KS_CANCEL"};
        for (const char *n : types) {
            typeCodes.insert(QString::fromLatin1(n), typeNames.size());
            typeNames.append(QString::fromLatin1(n));
        }
        for (const char *n : states) {
            stateCodes.insert(QString::fromLatin1(n), stateNames.size());
            stateNames.append(QString::fromLatin1(n));
        }
    }
};

const NameTables &tables()
{
    static const NameTables t;
    return t;
}

// Positions of the first `n` colons of a text (fewer when it has fewer).
int colonPositions(QStringView text, int n, int *pos)
{
    int found = 0;
    int from = 0;
    while (found < n) {
        const int c = text.indexOf(QLatin1Char(':'), from);
        if (c < 0)
            break;
        pos[found++] = c;
        from = c + 1;
    }
    return found;
}

// Field i of a colon-separated text ("" when there is none).
QStringView field(QStringView text, const int *pos, int found, int i)
{
    if (i > found)
        return QStringView();
    const int begin = i == 0 ? 0 : pos[i - 1] + 1;
    const int end = i < found ? pos[i] : text.size();
    return text.mid(begin, end - begin);
}

// Everything from field i to the end, inner colons included.
QStringView restFrom(QStringView text, const int *pos, int found, int i)
{
    if (i > found)
        return QStringView();
    return i == 0 ? text : text.mid(pos[i - 1] + 1);
}

} // namespace

ZorMessage::ZorMessage(int msgType, int msgState, const QVariant &data)
    : m_type(msgType), m_state(msgState), m_id(nextMessageId()), m_data(data)
{
}

ZorMessage::ZorMessage(const QString &text, int format)
    : m_type(KM_UNDEFINED), m_state(KS_INFO), m_id(nextMessageId())
{
    const QStringView t(text);
    int pos[3];
    const int labels = (format >= 1 && format <= 4) ? (format == 4 ? 1 : format) : 0;
    const int found = colonPositions(t, labels, pos);
    auto label = [&](int i) { return labelText(field(t, pos, found, i).trimmed().toString()); };
    switch (format) {
    case 1:
        m_recipient = label(0);
        break;
    case 2:
        m_origin = label(0);
        m_recipient = label(1);
        break;
    case 3: {
        bool ok = false;
        const quint32 id = field(t, pos, found, 0).toString().toUInt(&ok, 10);
        m_id = ok ? int(id) : 0;
        m_origin = label(1);
        m_recipient = label(2);
        break;
    }
    case 4:
        m_origin = label(0);
        break;
    default:
        break;
    }
    readBody(restFrom(t, pos, found, labels));
}

void ZorMessage::readBody(QStringView body)
{
    int pos[2];
    const int found = colonPositions(body, 2, pos);
    const NameTables &n = tables();
    m_type = n.typeCodes.value(field(body, pos, found, 0).trimmed().toString(), KM_UNDEFINED);
    m_state = n.stateCodes.value(field(body, pos, found, 1).trimmed().toString(), KS_INFO);
    const QStringView rest = restFrom(body, pos, found, 2);
    if (m_type == KM_CAN_FRAME) {
        QByteArray record;
        ZorBabelFish::fromCanStrToQbytearray(rest.toString(), record);
        m_data = record;
    } else if (!rest.isEmpty()) {
        m_data = rest.toString();
    }
}

QString ZorMessage::toString(int format) const
{
    QString s;
    switch (format) {
    case 1:
        s = m_recipient + QLatin1Char(':');
        break;
    case 2:
        s = m_origin + QLatin1Char(':') + m_recipient + QLatin1Char(':');
        break;
    case 3:
        s = QString::number(m_id) + QLatin1Char(':') + m_origin + QLatin1Char(':') + m_recipient
            + QLatin1Char(':');
        break;
    case 4:
        s = (hasOrigin() ? m_origin : m_recipient) + QLatin1Char(':');
        break;
    default:
        break;
    }
    s += msgTypeName(m_type);
    s += QLatin1Char(':');
    s += msgStateName(m_state);
    if (m_type == KM_CAN_FRAME) {
        QString frame;
        ZorBabelFish::fromQbytearrayToCanStr(m_data.toByteArray(), frame);
        s += QLatin1Char(':');
        s += frame;
    } else if (m_data.isValid()) {
        s += QLatin1Char(':');
        s += m_data.toString();
    }
    return s;
}

QString ZorMessage::msgTypeName(int code)
{
    const QVector<QString> &names = tables().typeNames;
    return code >= 0 && code < names.size() ? names.at(code) : QString();
}

QString ZorMessage::msgStateName(int code)
{
    const QVector<QString> &names = tables().stateNames;
    return code >= 0 && code < names.size() ? names.at(code) : QString();
}

int ZorMessage::registerMetaType()
{
    static const int id = qRegisterMetaType<ZorMessage>("ZorMessage");
    return id;
}
