// The value editor beside an object table.
//
// When the user selects a row (one object of a CANopen node), the widget
// shows the object's name and comment and the control its editor spec asks
// for: a dial and a slider for a ranged number, a line edit for free input,
// a combo box for a list of options. Every change goes back into the table's
// value cell with the edit role (the table passes it on to the node), and
// every change of that cell in the table comes back into the controls.
//
// The editor spec is a text of "key:value" entries separated by ";" (keys
// in any letter case, the later of two equal keys wins):
//   type:integer|float|text|combo   the value kind (integer by default)
//   range:min,max                   the range of dial, slider and line edit
//   options:value,label|value,label the combo box items
// Other keys ("decimals" among them) are accepted. A "float" object is
// edited as a floating-point number: its line edit takes decimals within the
// range and dial and slider move in steps of 10^-decimals (2 decimals unless
// "decimals" says otherwise), so nothing is cut to an integer.
// normalizeSpec turns the UI format of the object descriptions ("shape:dial;
// range:0,100; step:5") into such a spec.
//
// The table columns read, all as display text: 3 name, 5 value (the bound
// cell), 9 access (writable when empty or holding "w"), 11 editor spec,
// 12 comment, 13 value scaling (its factor sets the step sizes).
#pragma once

#include <QPersistentModelIndex>
#include <QPointer>
#include <QWidget>

class QAbstractItemModel;

namespace Ui {
class ZorEditorWidget;
}

class ZorEditorWidget : public QWidget
{
    Q_OBJECT
public:
    enum Kind { Integer = 0, Float = 1, Text = 2, Combo = 3 };

    explicit ZorEditorWidget(QWidget *parent = nullptr);
    ~ZorEditorWidget() override;

    void setModel(QAbstractItemModel *model);
    static QString normalizeSpec(const QString &text);

    void setValueName(const QString &name);
    void setComment(const QString &comment);
    void updateAccess(const QModelIndex &index);
    void applySpec(const QString &spec, const QString &scaling);

    int kind() const { return m_kind; }
    bool isReadOnly() const { return m_readOnly; }
    QString value() const { return m_valueText; }
    QModelIndex boundCell() const { return m_cell; }

public slots:
    void selected(const QModelIndex &index);
    void setValue(const QString &text);
    void setValue(int position);
    void setValueIndex(int index);

private slots:
    void dataChanged(const QModelIndex &topLeft, const QModelIndex &bottomRight);
    void lineEditChanged(const QString &text);

private:
    void takeValue(const QString &text, bool refresh);
    int positionOf(const QString &text) const;

    Ui::ZorEditorWidget *ui;
    QString m_valueText;
    int m_position = 0;
    int m_kind = Integer;
    double m_min = 99999;
    double m_max = -99999;
    int m_decimals = 0;
    double m_scale = 1; // dial and slider positions per unit
    QString m_name;
    bool m_readOnly = false;
    bool m_applying = false;
    QPointer<QAbstractItemModel> m_model;
    QPersistentModelIndex m_cell;
};
