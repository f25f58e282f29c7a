// The value that travels between modules, panels, the project and the main
// window: a type (KM_*), a state in a request/answer exchange (KS_*), a
// serial number by which an answer is matched to its request, a payload and
// two optional labels (recipient and origin).
//
// Every new message draws the next number from one process-wide counter (the
// first message of a run is 1); copies and assignment keep the number, and
// two messages compare equal when their numbers do. An answer is the request
// itself sent back with a new state and usually new data.
//
// Text forms (toString and the text constructors), by format number:
//   0  TYPE:STATE[:data]                       (any other number as well)
//   1  recipient:TYPE:STATE[:data]
//   2  origin:recipient:TYPE:STATE[:data]
//   3  id:origin:recipient:TYPE:STATE[:data]   carries a message whole
//   4  origin-or-recipient:TYPE:STATE[:data]   display form, read as origin
// A KM_CAN_FRAME message writes its 16-byte frame record as CAN frame text.
#pragma once

#include <QMetaType>
#include <QString>
#include <QVariant>

// Message types.
enum ZorMessageType {
    KM_UNDEFINED = 0,
    KM_WHOAMI = 1,
    KM_GETPROPERTY = 2,
    KM_SETPROPERTY = 3,
    KM_GETALLPROPERTIES = 4,
    KM_STATUS = 5,
    KM_INFOTEXT = 6,
    KM_LOGTEXT = 7,
    KM_INTERVIEW = 8,
    KM_CANCEL_INTERVIEWS = 9,
    KM_SNIFFER_SET = 10,
    KM_SNIFFER_MSG = 11,
    KM_AUTOMATION_SNIFFER_MSG = 12,
    KM_PROGRESS = 13,
    KM_PREPARE_TO_SAVE = 14,
    KM_DROP_DATA = 15,
    KM_START = 16,
    KM_STOP = 17,
    KM_APPLICATION_CONTROL = 18,
    KM_COMM_OPEN = 19,
    KM_COMM_CLOSE = 20,
    KM_COMM_STATUS = 21,
    KM_COMM_SET_BAUD = 22,
    KM_COMM_DATA = 23,
    KM_CAN_FRAME = 24,
    KM_PLAYERCMD_PLAY = 25,
    KM_PLAYERCMD_STOP = 26,
    KM_PLAYERCMD_PAUSE = 27,
    KM_PLAYERCMD_SKIP = 28,
    KM_PLAYERCMD_BACK = 29,
    KM_PLAYER_STATUS = 30,
    KM_DRIVE_START = 31,
    KM_DRIVE_STOP = 32,
    KM_DRIVE_STATUS = 33,
    KM_SET_PROFILE_MODE = 34,
    KM_GET_ACTUAL_VELOCITY = 35,
    KM_GET_ACTUAL_POSITION = 36,
    KM_DRIVE_NEW_ID = 37,
    KM_DRIVE_NEW_COMM_PARAMETERS = 38,
    KM_DRIVE_RESET = 39,
    KM_DRIVE_GO_TO_TARGET = 40,
    KM_DRIVE_GO_TO_EXTENDED = 41,
    KM_DRIVE_START_HOMING = 42,
    KM_DRIVE_DOWNLOAD_START = 43,
    KM_OBJLIST_WRITE = 44,
    KM_OBJLIST_READ = 45,
    KM_DIALOG = 46,
    KM_ASSIGN_SLAVES = 47,
    KM_NEW_POSITION_RUN = 48,
    KM_CANOPEN_BOOTUP = 49,
    KM_CANOPEN_EMERGENCY = 50,
    KM_DAQ_DATA = 51,
    KM_DAQ_CONFIG = 52,
    KM_DAQ_SHARED_IDS_LIST = 53,
    KM_DAQ_CONTROL = 54,
    KM_SCRIPT_CONTROL = 55,
    KM_SCRIPT_MSG = 56,
    KM_MASTER_OUT = 57
};

// Message states.
enum ZorMessageState {
    KS_INFO = 0,    // notice; no answer expected
    KS_REQUEST = 1, // an answer is expected
    KS_WAITING = 2, // accepted, result pending
    KS_ANSWER = 3,  // answered with success
    KS_REJECT = 4,  // refused
    KS_FAIL = 5,    // failed; the data holds the error text
    KS_TIMEOUT = 6, // no result in time
    KS_CANCEL = 7   // cancelled
};

// Queued connections copy a message in the sending thread and read that copy
// in the receiving one; Qt's own hand-over between the two is invisible to
// ThreadSanitizer unless Qt itself is built with it. In such builds every
// copy publishes itself and every copy made from a message first takes over
// what was published for it, which states that hand-over. A copy that is
// destroyed in another thread than the one that made it (a queued call whose
// receiver went away before it ran) takes over what it published as well.
#if defined(__SANITIZE_THREAD__)
#include <sanitizer/tsan_interface.h>
#define ZOR_MESSAGE_PUBLISH(p) __tsan_release(const_cast<void *>(static_cast<const void *>(p)))
#define ZOR_MESSAGE_TAKE_OVER(p) __tsan_acquire(const_cast<void *>(static_cast<const void *>(p)))
#else
#define ZOR_MESSAGE_PUBLISH(p) ((void)0)
#define ZOR_MESSAGE_TAKE_OVER(p) ((void)0)
#endif

class ZorMessage
{
public:
    // A new message with a new id, no recipient and no origin.
    ZorMessage(int msgType, int msgState, const QVariant &data = QVariant());
    // A blank message (KM_UNDEFINED, KS_INFO, no payload); it too draws a new id.
    ZorMessage() : ZorMessage(KM_UNDEFINED, KS_INFO) {}
    // A new message read from a text form (see above). Format 3 takes the id
    // written in the text (0 when it is no number). Reading never fails:
    // unknown names give code 0, a bad frame text an empty byte array.
    explicit ZorMessage(const QString &text, int format = 0);

    ZorMessage(const ZorMessage &other);
    ZorMessage &operator=(const ZorMessage &other);
    ZorMessage(ZorMessage &&other) noexcept = default;
    ZorMessage &operator=(ZorMessage &&other) noexcept = default;
    ~ZorMessage() { ZOR_MESSAGE_TAKE_OVER(this); }

    int msgType() const { return m_type; }
    int msgState() const { return m_state; }
    int msgId() const { return m_id; }
    QVariant data() const { return m_data; }

    bool isRequest() const { return m_state == KS_REQUEST; }
    bool isAnswer() const { return m_state == KS_ANSWER; }

    // Labels: "" when unset; setting an empty text leaves the label unset.
    QString recipient() const { return m_recipient; }
    QString origin() const { return m_origin; }
    bool hasRecipient() const { return !m_recipient.isEmpty(); }
    bool hasOrigin() const { return !m_origin.isEmpty(); }
    void setRecipient(const QString &recipient) { m_recipient = labelText(recipient); }
    void setOrigin(const QString &origin) { m_origin = labelText(origin); }
    void clearRecipient() { m_recipient = QString(); }
    void clearOrigin() { m_origin = QString(); }

    void setMsgState(int msgState) { m_state = msgState; }
    void setData(const QVariant &data) { m_data = data; }

    // Identity: messages are equal when their ids are.
    bool operator==(const ZorMessage &other) const { return m_id == other.m_id; }
    bool operator!=(const ZorMessage &other) const { return m_id != other.m_id; }

    QString toString(int format = 0) const;

    // KM_* / KS_* name of a code, "" for a code without name.
    static QString msgTypeName(int code);
    static QString msgStateName(int code);
    // Registers the type with Qt's meta-type system as "ZorMessage" so that
    // queued connections carry it between threads. Safe to call any number
    // of times from any thread; returns the meta-type id.
    static int registerMetaType();

private:
    static QString labelText(const QString &text)
    {
        return text.isEmpty() ? QString() : text;
    }
    void readBody(QStringView body);
    static const ZorMessage &takenOver(const ZorMessage &other);

    int m_type;
    int m_state;
    int m_id;
    QVariant m_data;
    QString m_recipient; // empty when unset
    QString m_origin;    // empty when unset
};


inline const ZorMessage &ZorMessage::takenOver(const ZorMessage &other)
{
    ZOR_MESSAGE_TAKE_OVER(&other);
    return other;
}

inline ZorMessage::ZorMessage(const ZorMessage &other)
    : m_type(takenOver(other).m_type), m_state(other.m_state), m_id(other.m_id),
      m_data(other.m_data), m_recipient(other.m_recipient), m_origin(other.m_origin)
{
    ZOR_MESSAGE_PUBLISH(this);
}

inline ZorMessage &ZorMessage::operator=(const ZorMessage &other)
{
    if (this != &other) {
        ZOR_MESSAGE_TAKE_OVER(&other);
        m_type = other.m_type;
        m_state = other.m_state;
        m_id = other.m_id;
        m_data = other.m_data;
        m_recipient = other.m_recipient;
        m_origin = other.m_origin;
        ZOR_MESSAGE_PUBLISH(this);
    }
    return *this;
}

Q_DECLARE_METATYPE(ZorMessage)
