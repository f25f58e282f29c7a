// The object table that people edit and that talks to a node.
//
// ZorObjEditModel extends the object table (ZorDeviceDescModel) with four
// columns (Status, UI Format, Edit Comment, Scaling), with value editing in
// several number notations and through a value scaling, with status icons,
// colours and tooltips, and with the object-list text that travels in
// KM_OBJLIST_READ and KM_OBJLIST_WRITE requests: objectListRequest builds it
// from rows, applyObjectListAnswer puts an answer's values back.
//
// The traffic side (zorobjeditmodelupdate.cpp) decides when rows are read
// and written: cyclic reads at the intervals of the "updates" entry of each
// row's UI format, writes of edited values, reads gathered for 20 ms and
// writes for 400 ms into one request each, at most one request on its way
// (writes go first), and a time-out after which a lost answer counts as
// failed. Requests leave through objectUpdateOut; the owner hands every
// message of its node module back to objectUpdateIn, which picks the answer
// by its message id.
//
// Row status: "zorStatus" holds a code (0 none, 1 ok, 2 busy or modified,
// 3 error), "zorStatusTxt" its text, time-stamped "hh:mm:ss read ok". Both
// live in the shared document; copies taken out of the table lose them.
//
// A panel's model lives in the GUI thread; a node module may build one in
// its own thread for one object-table request and use the object-list
// operations there (no timers are started unless the update is started).
#pragma once

#include "zordevicedescmodel.h"
#include "zormessage.h"

#include <QHash>
#include <QMap>
#include <QPointer>
#include <QTimer>
#include <QVector>
#include <memory>

class ValueScaling;

class ZorObjEditModel : public ZorDeviceDescModel
{
    Q_OBJECT
public:
    enum EditColumn {
        StatusColumn = 10,
        UiFormatColumn = 11,
        CommentColumn = 12,
        ScalingColumn = 13,
        EditColumnCount = 14
    };
    enum EditRole {
        // Value and Default cells: the unscaled text as stored. Writing it
        // stores a value that arrived from a node (keeping the notation of
        // the stored text) or from the default.
        RawValueRole = 33,
        // The row's status code (int); writing stores it.
        StatusCodeRole = 34
    };
    enum StatusCode { StatusNone = 0, StatusOk = 1, StatusBusy = 2, StatusError = 3 };

    ZorObjEditModel(QDomDocument doc, bool nodeIdLocked, QObject *parent = nullptr);
    ~ZorObjEditModel() override;

    int columnCount(const QModelIndex &parent = QModelIndex()) const override;
    QVariant data(const QModelIndex &index, int role = Qt::DisplayRole) const override;
    bool setData(const QModelIndex &index, const QVariant &value, int role = Qt::EditRole) override;
    QVariant headerData(int section, Qt::Orientation orientation,
                        int role = Qt::DisplayRole) const override;
    Qt::ItemFlags flags(const QModelIndex &index) const override;
    void prepareExportElement(QDomElement &element) const override;

    // true: the column is never editable; false: its own rule again.
    void setColumnReadOnly(int column, bool readOnly);
    // The scaling of the row's Scaling text, cached per text; null for an
    // empty text. Owned by the model.
    const ValueScaling *scalingFor(const QModelIndex &index) const;

    // The object-list text of the rows (every top-level row for an empty
    // list) for KM_OBJLIST_READ or KM_OBJLIST_WRITE, one line per object:
    //   001.1000h.00h,unsigned32, # Device Type          (read)
    //   005.60ffh.00h,integer32,-200 # Target Velocity   (write)
    // preceded by "SilentReadWrite" when silent. Sets each row's status:
    // "read started"/"write started", "read not allowed" (write-only),
    // "is read-only", "empty / unused" (write without a value), or, for a
    // write value that does not fit its type, "not a number" or "value out
    // of range" (status 3, no line: nothing is truncated or sent as 0).
    QString objectListRequest(const QModelIndexList &rows, int msgType, bool silent);
    // Puts the values and results of an answer into the rows: lines of
    // data-object id, type, value, error (or node, index, subindex, type,
    // value, error, matched through the locked node id); values and errors
    // that hold "," or "#" come as quoted fields. A line with an error text,
    // or any line when failed, turns its row red; others store the value
    // and turn green.
    void applyObjectListAnswer(const QString &text, int msgType, bool failed);
    // Applies the answer to a request built by objectListRequest (its text
    // as sent) line by line, also when it came back KS_FAIL or KS_TIMEOUT
    // with result lines (the node module's answer when some objects
    // failed): each row shows its own value or error. An answer without
    // result lines (cancelled, rejected, or the request sent back
    // unchanged) fails every object of the request, and so does the answer
    // for each object it leaves out. Objects are matched as numbers, so a
    // node-0 row is answered by the node that served it. Gives each object
    // of the request (by the row's own data-object id, in request order)
    // with whether it failed.
    QVector<QPair<QString, bool>> applyRequestAnswer(const QString &requestText, const ZorMessage &answer);
    // Writable rows take their default value (status 0 "default").
    void setToDefault(const QModelIndexList &rows);
    // Why rows stay out of a concise DCF.
    struct BinaryListReport
    {
        int written = 0;
        int notWritable = 0; // "ro" or "const": a master must not write them
        int noValue = 0;
        int badValue = 0;    // no number, out of the type's range, no Latin-1 text
        int otherType = 0;   // a type the list does not carry
        int leftOut() const { return notWritable + noValue + badValue + otherType; }
    };
    // Concise DCF: record count, then index, subindex, size and value of
    // each row that a master may write (access empty or with "w": rw, wo,
    // rww, rwr) of an integer type or "visible_string" whose value fits its
    // type; little-endian. The count is the number of records written.
    QByteArray toBinaryObjectList(const QModelIndexList &rows, BinaryListReport *report = nullptr) const;
    // ";"-separated text with a header line of attribute names; fields that
    // hold ";", quotes or line breaks are quoted.
    QString toCsvText(const QModelIndexList &rows) const;

    // ---- The update queue -------------------------------------------------
    // Sets up (enable) or tears down the cyclic reading of top-level rows
    // from firstRow on; with enable, their first read is sent (or queued
    // behind the request on its way).
    void setupObjectUpdate(int firstRow, int count, bool enable);
    // Arms an object's timer after an answer: its own interval after a good
    // read (objects read once stay quiet), stagger + 5000 ms after a failed
    // one, stagger + 10000 ms as watchdog.
    void rearmObjectTimer(const QString &id, bool failed, bool watchdog);
    // Queues a write of the row; the writes of 400 ms leave together.
    void queueObjectWrite(const QModelIndex &index);

    bool isUpdateRunning() const { return m_running; }
    int globalUpdateInterval() const { return m_globalInterval; }
    int stagger() const { return m_stagger; }
    // The cyclic interval of an object (0 read once), -1 when it has none.
    int objectInterval(const QString &id) const { return m_intervals.value(id, -1); }
    bool isRequestPending() const { return m_pendingRequest.msgState() == KS_WAITING; }
    // How long an answer is awaited before the request counts as failed;
    // 0 (the default) allows the node module's own time budget for the
    // request's lines and 10 s more.
    void setRequestTimeout(int ms) { m_requestTimeout = ms; }

signals:
    void objectUpdateOut(ZorMessage msg);

public slots:
    void initObjectUpdate();
    void stopObjectUpdate();
    void setGlobalUpdateInterval(int ms);
    void readObject(QString id);
    void processPendingReadWriteRequest();
    void objectUpdateIn(ZorMessage msg);

private slots:
    void requestTimedOut();

private:
    QString statusWords(int msgType) const;
    void setRowStatus(const QModelIndex &row, int code, const QString &text);
    QString cellDisplay(const QModelIndex &row, int column) const;
    QString cellRaw(const QModelIndex &row, int column) const;
    bool isWritableAccess(const QModelIndex &row) const;
    bool sendRequest(int msgType, const QModelIndexList &rows);
    void advanceStagger();
    void deleteObjectTimer(const QString &id);
    int timeoutFor(const ZorMessage &request) const;

    struct LineOutcome
    {
        QPersistentModelIndex row;
        bool failed;
    };
    QVector<LineOutcome> applyLines(const QString &text, int msgType, bool failed);

    QMap<int, bool> m_readOnlyColumns;
    mutable QHash<QString, ValueScaling *> m_scalings;

    bool m_running = false;
    int m_globalInterval = 0;
    int m_stagger = 0;
    QHash<QString, QPointer<QTimer>> m_objectTimers;
    QHash<QString, int> m_intervals;
    QHash<QString, QPersistentModelIndex> m_pendingReads;
    QHash<QString, QPersistentModelIndex> m_pendingWrites;
    ZorMessage m_pendingRequest;
    QTimer m_writeTimer;
    QTimer m_readTimer;
    QTimer m_requestTimer;
    int m_requestTimeout = 0;
};
