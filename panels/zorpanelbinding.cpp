// Property binding of ZorPanel: ordinary widgets bound to module properties.
//
// The module reports a property as "name=value" in KM_GETPROPERTY and
// KM_SETPROPERTY messages (answers and change notices alike). Every value
// that arrives is shown in all widgets bound to the name; the last value is
// remembered, so that an edit is sent only when a widget shows something else
// than what the module last reported. The last value changes only when the
// module reports: an edit the module does not confirm is sent again.
#include "zorpanel.h"

#include <QAbstractSlider>
#include <QCheckBox>
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QSignalMapper>
#include <QSignalBlocker>

namespace {

QString fixed(double value, int decimals)
{
    return QString::number(value, 'f', decimals);
}

// A property value read as a flag: a non-zero number or "true".
bool flagOf(const QString &value)
{
    const QString v = value.trimmed();
    bool ok = false;
    const double number = v.toDouble(&ok);
    if (ok)
        return number != 0.0;
    return v.compare(QLatin1String("true"), Qt::CaseInsensitive) == 0;
}

QString flagText(bool on)
{
    return on ? QStringLiteral("1") : QStringLiteral("0");
}

} // namespace

void ZorPanel::bindNotifier(QObject *widget, const QString &name, const char *signal)
{
    connect(widget, signal, m_propertyMapper, SLOT(map()));
    m_propertyMapper->setMapping(widget, name);
}

void ZorPanel::requestProperty(const QString &name)
{
    sendGuiMsg(ZorMessage(KM_GETPROPERTY, KS_REQUEST, name));
}

void ZorPanel::registerLineEdit(const QString &name, QLineEdit *edit, int decimals, bool notify)
{
    if (!edit)
        return;
    m_lineEdits.insert(name, edit);
    m_decimals.insert(name, decimals);
    if (notify)
        bindNotifier(edit, name, SIGNAL(editingFinished()));
    requestProperty(name);
}

void ZorPanel::registerSlider(const QString &name, QAbstractSlider *slider, int decimals,
                              bool notify)
{
    if (!slider)
        return;
    m_sliders.insert(name, slider);
    m_decimals.insert(name, decimals);
    if (notify)
        bindNotifier(slider, name, SIGNAL(sliderMoved(int)));
    requestProperty(name);
}

void ZorPanel::registerComboBox(const QString &name, QComboBox *box, bool notify)
{
    if (!box)
        return;
    m_comboBoxes.insert(name, box);
    m_decimals.insert(name, 0);
    if (notify)
        bindNotifier(box, name, SIGNAL(currentIndexChanged(int)));
    requestProperty(name);
}

void ZorPanel::registerLabel(const QString &name, QLabel *label, int decimals)
{
    if (!label)
        return;
    m_labels.insert(name, label);
    m_decimals.insert(name, decimals);
    requestProperty(name);
}

void ZorPanel::registerCheckBox(const QString &name, QCheckBox *box, bool notify)
{
    if (!box)
        return;
    m_checkBoxes.insert(name, box);
    if (notify)
        bindNotifier(box, name, SIGNAL(toggled(bool)));
    requestProperty(name);
}

void ZorPanel::applyPropertyMessage(const ZorMessage &msg)
{
    const QString data = msg.data().toString();
    const int eq = data.indexOf(QLatin1Char('='));
    if (eq < 0)
        propertyNewValue(data, QString());
    else
        propertyNewValue(data.left(eq), data.mid(eq + 1));
}

void ZorPanel::propertyNewValue(const QString &name, const QString &value)
{
    const int decimals = m_decimals.value(name, 0);
    const QString shown = decimals > 0 ? fixed(value.toDouble(), decimals) : value;
    m_lastValues.insert(name, shown);

    for (auto it = m_lineEdits.constFind(name); it != m_lineEdits.cend() && it.key() == name; ++it) {
        QLineEdit *edit = it.value();
        if (edit && edit->text() != shown)
            edit->setText(shown);
    }
    for (auto it = m_sliders.constFind(name); it != m_sliders.cend() && it.key() == name; ++it) {
        QAbstractSlider *slider = it.value();
        if (slider && fixed(slider->sliderPosition(), decimals) != shown)
            slider->setValue(static_cast<int>(value.toDouble()));
    }
    for (auto it = m_comboBoxes.constFind(name); it != m_comboBoxes.cend() && it.key() == name;
         ++it) {
        QComboBox *box = it.value();
        if (!box || box->currentText() == shown)
            continue;
        if (box->isEditable() && box->findText(shown, Qt::MatchExactly | Qt::MatchCaseSensitive) < 0) {
            const QSignalBlocker blocker(box);
            if (box->insertPolicy() == QComboBox::InsertAtTop)
                box->insertItem(0, shown);
            else if (box->insertPolicy() == QComboBox::InsertAtBottom)
                box->addItem(shown);
        }
        int found = box->findText(shown, Qt::MatchExactly | Qt::MatchCaseSensitive);
        if (found < 0)
            found = box->findText(shown, Qt::MatchContains);
        if (found >= 0) {
            box->setEditText(shown);
            box->setCurrentIndex(found);
        }
    }
    for (auto it = m_labels.constFind(name); it != m_labels.cend() && it.key() == name; ++it) {
        QLabel *label = it.value();
        if (label && label->text() != shown)
            label->setText(shown);
    }
    const bool on = flagOf(shown);
    for (auto it = m_checkBoxes.constFind(name); it != m_checkBoxes.cend() && it.key() == name;
         ++it) {
        QCheckBox *box = it.value();
        if (box && box->isChecked() != on)
            box->setChecked(on);
    }
}

void ZorPanel::propertyEdited(const QString &name)
{
    const int decimals = m_decimals.value(name, 0);
    const QString last = m_lastValues.value(name);
    QString text;
    bool found = false;

    for (auto it = m_lineEdits.constFind(name);
         !found && it != m_lineEdits.cend() && it.key() == name; ++it) {
        QLineEdit *edit = it.value();
        if (edit && edit->text() != last) {
            text = decimals > 0 ? fixed(edit->text().toDouble(), decimals) : edit->text();
            found = true;
        }
    }
    for (auto it = m_sliders.constFind(name); !found && it != m_sliders.cend() && it.key() == name;
         ++it) {
        QAbstractSlider *slider = it.value();
        // While the user drags, the position leads the value.
        if (slider && fixed(slider->sliderPosition(), decimals) != last) {
            text = fixed(slider->sliderPosition(), decimals);
            found = true;
        }
    }
    for (auto it = m_comboBoxes.constFind(name);
         !found && it != m_comboBoxes.cend() && it.key() == name; ++it) {
        QComboBox *box = it.value();
        if (box && box->currentText() != last) {
            text = box->currentText();
            found = true;
        }
    }
    for (auto it = m_checkBoxes.constFind(name);
         !found && it != m_checkBoxes.cend() && it.key() == name; ++it) {
        QCheckBox *box = it.value();
        if (box && box->isChecked() != flagOf(last)) {
            text = flagText(box->isChecked());
            found = true;
        }
    }
    if (found)
        sendGuiMsg(ZorMessage(KM_SETPROPERTY, KS_REQUEST, name + QLatin1Char('=') + text));
}
