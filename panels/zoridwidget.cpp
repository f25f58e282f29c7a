#include "zoridwidget.h"

#include "zorintoremptyvalidator.h"

#include <QLineEdit>
#include <QListView>

const QString ZorIdWidget::ScanItem = QStringLiteral("0 (Scan)");

ZorIdWidget::ZorIdWidget(QWidget *parent)
    : QComboBox(parent)
{
    QStringList items{ScanItem};
    for (int id = 1; id <= 16; ++id)
        items << QString::number(id);
    items << QStringLiteral("127");
    addItems(items);
    setEditable(true);
    setInsertPolicy(QComboBox::InsertAtBottom);
    m_validator = new ZorIntOrEmptyValidator(0, 127, this, {ScanItem});
    setValidator(m_validator);
    setView(new QListView(this));
    connect(lineEdit(), &QLineEdit::editingFinished, this, &ZorIdWidget::editingFinished);
}

void ZorIdWidget::editingFinished()
{
    const QString text = currentText().trimmed();
    if (text.isEmpty()) {
        setCurrentIndex(0);
        return;
    }
    const int found = findText(text, Qt::MatchExactly | Qt::MatchCaseSensitive);
    if (found >= 0) {
        setCurrentIndex(found);
        return;
    }
    addItem(text);
    setCurrentIndex(count() - 1);
}
