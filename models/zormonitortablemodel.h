// ZorMonitorTableModel: the table behind the CAN monitor, one row per CAN
// frame seen: running number, time stamp, identifier, data bytes, direction
// and an optional description from a frame decoder.
//
// Live frames (KM_CAN_FRAME messages) are collected in a pending list and
// moved into the table in one insertion every 400 ms, however many arrived,
// so that a busy bus costs the view one update per refresh. Both the table
// and the pending list keep at most MaxRows rows; the oldest go first.
// Tab-separated trace text (a trace file or pasted text) is imported into the
// same rows, labelled "file n" or "clip n".
//
// Time stamps: adapters count milliseconds in 16 bits, which wrap every
// 65.536 s. The model unwraps them into one running time (the stamp of the
// first frame, then growing without wrapping), taking the value of the
// frame's 16-bit stamp that lies nearest to the time the monitor's own
// clock says has passed since the previous stamped frame; so a stamp a
// little behind the previous one (a frame this program sent, stamped by
// the driver) stays behind, and a quiet bus of several minutes loses no
// wraps.
//
// Columns (display role): 0 "Frame #", 1 "t [msec]", 2 "ID", 3 "Data",
// 4 "Dir" ("TX" for a frame this program sent), 5 "Description". Role
// Qt::UserRole of columns 2, 3 and 4 gives numbers for the filter: the
// identifier, data bytes 1-2 (an SDO object index, little-endian) and data
// byte 3 (an SDO subindex).
//
// The decoder is attached by name (setDecoder("CANopen") or "Script") or as
// an object; it is owned by the model. GUI thread only.
#pragma once

#include "zormessage.h"

#include <QAbstractTableModel>
#include <QByteArray>
#include <QElapsedTimer>
#include <QVariant>

#include <deque>
#include <memory>

class QMimeData;
class QTimer;
class ZorAbstractFrameCodec;

class ZorMonitorTableModel : public QAbstractTableModel
{
    Q_OBJECT
public:
    enum {
        MaxRows = 20000,
        RefreshMs = 400,
        ColumnCount = 6,
        // Role of the numeric values of columns 2, 3 and 4.
        NumberRole = Qt::UserRole
    };
    enum Column { FrameColumn, TimeColumn, IdColumn, DataColumn, DirColumn, DescriptionColumn };

    explicit ZorMonitorTableModel(QObject *parent = nullptr);
    ~ZorMonitorTableModel() override;

    int rowCount(const QModelIndex &parent = QModelIndex()) const override;
    int columnCount(const QModelIndex &parent = QModelIndex()) const override;
    QVariant data(const QModelIndex &index, int role = Qt::DisplayRole) const override;
    QVariant headerData(int section, Qt::Orientation orientation,
                        int role = Qt::DisplayRole) const override;
    Qt::ItemFlags flags(const QModelIndex &index) const override;
    // Empty rows (only useful to fill them in by hand; the monitor never does).
    bool insertRows(int row, int count, const QModelIndex &parent = QModelIndex()) override;
    // Removes the rows of [row, row + count) that exist; false, with no
    // notification, when that leaves nothing to remove.
    bool removeRows(int row, int count, const QModelIndex &parent = QModelIndex()) override;
    // Pasted or dropped text: importText(..., fromFile false).
    bool dropMimeData(const QMimeData *data, Qt::DropAction action, int row, int column,
                      const QModelIndex &parent) override;

    // Imports tab-separated trace lines ("17\t513\t581h\t43 00 ...\tTX";
    // three blanks count as a tab) from the mime text and appends them at
    // the bottom, labelled "file n" or "clip n". Header, remark and broken
    // lines are skipped; at most MaxRows lines are read. Row, column and
    // parent play no part. False only for an action other than copy or move.
    virtual bool importText(const QMimeData *data, Qt::DropAction action, int row, int column,
                            const QModelIndex &parent, bool fromFile);

    // Queues one frame message (data: the 16-byte frame record) for the next
    // refresh and numbers it; KS_ANSWER marks a frame this program sent.
    bool appendFrame(const ZorMessage &msg);

    // Replaces the decoder: "CANopen" or "Script" (any case) attach a new
    // one; any other name leaves none and gives false.
    bool setDecoder(const QString &name);
    // Attaches a decoder object (taking it over); null detaches.
    void setDecoder(ZorAbstractFrameCodec *decoder);
    ZorAbstractFrameCodec *decoder() const { return m_decoder.get(); }
    // Hands the parameter (for "Script": the script file) to the decoder; a
    // decoder that refuses it is dropped. False without a decoder.
    bool loadDecoderScript(const QString &fileName);

    // Frames numbered so far; never reset.
    int frameCount() const { return m_frameCounter; }
    // Of the frame appended last: its running time in ms (-1 when it carries
    // none) and its decoded description (empty without a decoder).
    qint64 lastFrameTime() const { return m_lastFrameTime; }
    QString lastFrameDescription() const { return m_lastFrameDescription; }
    // The running time of a 16-bit stamp seen `elapsedMs` after the stamp
    // that gave `previous` (-1: none before): the value congruent to the
    // stamp modulo 65536 nearest to previous + elapsedMs.
    static qint64 unwrapStamp(quint16 stamp, qint64 previous, qint64 elapsedMs);
    int pendingCount() const { return int(m_pending.size()); }

public slots:
    // Moves the pending rows into the table (the refresh timer's slot).
    void update();

private:
    struct MonitorRow
    {
        QVariant values[9];
    };

    void fillFromRecord(MonitorRow &row, const QByteArray &record) const;
    void appendPending(MonitorRow &&row);

    std::deque<MonitorRow> m_rows;
    std::deque<MonitorRow> m_pending;
    QTimer *m_refreshTimer;
    int m_frameCounter = 0;
    std::unique_ptr<ZorAbstractFrameCodec> m_decoder;
    qint64 m_runningTime = -1;      // of the last stamped frame
    QElapsedTimer m_stampClock;     // since the last stamped frame
    qint64 m_lastFrameTime = -1;
    QString m_lastFrameDescription;
};
