// The node monitor's grid as the network manager panel shows it: the node
// status grid (ZorStatusProxy) with two things of its own on top.
//
// - A node whose answers stopped is marked: its row is coloured and its
//   header and cells say since when there is no answer. A read of one of
//   its objects that fails marks it at once; a node that answers again
//   loses the mark. So stale values are never shown as current.
// - Status words (6041h) and device types (1000h) read as numbers are
//   shown in hexadecimal ("0637h", "00020192h"), as the program writes them
//   elsewhere; their bits mean something, their decimal value nothing.
//
// The marks follow the answers to the monitor's reads, line by line: a
// node with a value read answers, a node whose lines all failed does not
// (the answer as a whole may fail for one silent node among many). A node
// with no good answer for SilentAfterMs is marked too, so a read that is
// never answered at all does not hide it either.
#pragma once

#include "zormessage.h"

#include <QDateTime>
#include <QElapsedTimer>
#include <QHash>
#include <QIdentityProxyModel>
#include <QTimer>

class ZorContentNetManagerMarks : public QIdentityProxyModel
{
    Q_OBJECT
public:
    explicit ZorContentNetManagerMarks(QObject *parent = nullptr);

    // The grid (a ZorStatusProxy over the monitor's object table).
    void setGrid(QAbstractItemModel *grid);
    // Every message the panel receives; the answers to the monitor's reads
    // tell which node answers.
    void takeMessage(const ZorMessage &message);
    // The monitor stopped: no read is expected, no node goes silent.
    void stop() { m_check.stop(); }

    QVariant data(const QModelIndex &index, int role = Qt::DisplayRole) const override;
    QVariant headerData(int section, Qt::Orientation orientation, int role = Qt::DisplayRole) const override;

    // Since when the node has not answered; invalid while it answers.
    QDateTime silentSince(const QString &node) const;

    // The colour of a silent node's row.
    static const QColor SilentColour;
    // A node without a good answer for this long is marked.
    static constexpr int SilentAfterMs = 10000;

private:
    // The node id of a grid row ("" when the row holds no cell).
    QString nodeOfRow(int row) const;
    QModelIndex objectCell(const QModelIndex &gridIndex, int column) const;
    void setSilent(const QString &node, bool silent);
    void checkLastAnswers();

    struct Node
    {
        QDateTime lastAnswer;       // shown: since when no answer
        QElapsedTimer sinceAnswer;  // measured on the monotonic clock
    };
    QHash<QString, Node> m_nodes;              // nodes of the grid
    QHash<QString, QDateTime> m_silentSince;   // node -> since when silent
    QTimer m_check;
};
