// The editable combo box in which the user picks or types a CANopen node id:
// "0 (Scan)", 1 to 16 and 127 to choose from, any other id from 0 to 127 by
// hand. An id typed by hand is kept as a new last item; an empty field
// selects "0 (Scan)". Users read the choice through the combo box's current
// text and index (panels bind it to their module's "NodeId").
#pragma once

#include <QComboBox>
#include <QPointer>

class ZorIntOrEmptyValidator;

class ZorIdWidget : public QComboBox
{
    Q_OBJECT
public:
    explicit ZorIdWidget(QWidget *parent = nullptr);

    static const QString ScanItem;

private slots:
    void editingFinished();

private:
    QPointer<ZorIntOrEmptyValidator> m_validator;
};
