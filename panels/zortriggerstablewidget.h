// ZorTriggersTableWidget: the table in which the trigger panel edits the
// trigger conditions of a data-log module (triggercondition.h), one per row.
//
// Column 0 holds the condition as typed; when a cell is edited the text is
// normalised (001.60ffh.00h>200 becomes 001.60ffh.00h > 200) and checked,
// and column 1 shows the result: a green mark for a valid condition, a red
// one for an invalid, none for an empty row (its user-role value is the
// row's validity). An object row dragged from an object table and dropped
// on the table fills a row with the object's data-object id (item-model
// rows by their role 48, the object tables' XML text by its first object).
//
// configuration() joins the valid, non-empty conditions by ";" (the
// TriggerConfig text); every user edit emits it.
#pragma once

#include <QIcon>
#include <QTableWidget>

class ZorTriggersTableWidget : public QTableWidget
{
    Q_OBJECT
public:
    // Role 48 of the object tables: the data-object id of a row.
    static constexpr int DataObjectIdRole = 48;

    explicit ZorTriggersTableWidget(QWidget *parent = nullptr);

    // Puts an empty condition into every row and starts following edits.
    void initRows();
    // Limits the table's height to its header and rows.
    void fitHeightToRows();
    QString configuration() const;
    // Shows a TriggerConfig text, one condition per row (those beyond the
    // last row are not shown); emits nothing.
    void setConfiguration(const QString &text);
    bool isRowValid(int row) const;
    // The data-object id of a dropped text: an id itself, or the first row
    // of an object-table XML text (the drag text of the object tables);
    // empty when it is neither.
    static QString dataObjectIdOfText(const QString &text);

signals:
    void triggersConfigurationChanged(const QString &configuration);

public slots:
    void triggerCellChanged(int row, int column);

protected:
    void dragEnterEvent(QDragEnterEvent *event) override;
    void dragMoveEvent(QDragMoveEvent *event) override;
    bool dropMimeData(int row, int column, const QMimeData *data, Qt::DropAction action) override;
    QStringList mimeTypes() const override;

private:
    void followEdits(bool on);
    void showRow(int row, const QString &text, bool markEmpty);
    QTableWidgetItem *itemAt(int row, int column);

    QIcon m_validIcon;
    QIcon m_invalidIcon;
};
