#include "zoreditorwidget.h"

#include "ui_zoreditorwidget.h"
#include "valuescaling.h"
#include "zorintoremptyvalidator.h"

#include <QAbstractItemModel>
#include <QDoubleValidator>
#include <QIntValidator>
#include <QMap>
#include <cmath>
#include <limits>

namespace {

enum SpecColumn {
    NameColumn = 3,
    ValueColumn = 5,
    AccessColumn = 9,
    SpecColumn = 11,
    CommentColumn = 12,
    ScalingColumn = 13
};

const int DefaultFloatDecimals = 2;

// An integer validator that refuses what no further digit brings into the
// range, so that "300" cannot be typed for 0 to 250.
class RangeValidator : public QIntValidator
{
public:
    RangeValidator(int bottom, int top, QObject *parent) : QIntValidator(bottom, top, parent) {}
    State validate(QString &input, int &pos) const override
    {
        const State state = QIntValidator::validate(input, pos);
        return state == Intermediate && ZorIntOrEmptyValidator::outOfReach(input, bottom(), top())
            ? Invalid
            : state;
    }
};

// "key:value" entries separated by ";": keys in lower case, values trimmed,
// the later of two equal keys wins, empty entries skipped.
QMap<QString, QString> parseSpec(const QString &text)
{
    QMap<QString, QString> entries;
    for (const QString &entry : text.split(QLatin1Char(';'), Qt::SkipEmptyParts)) {
        if (entry.trimmed().isEmpty())
            continue;
        const int colon = entry.indexOf(QLatin1Char(':'));
        const QString key = (colon < 0 ? entry : entry.left(colon)).trimmed().toLower();
        entries.insert(key, colon < 0 ? QString() : entry.mid(colon + 1).trimmed());
    }
    return entries;
}

int kindOf(const QString &word)
{
    if (word == QLatin1String("float"))
        return ZorEditorWidget::Float;
    if (word == QLatin1String("text"))
        return ZorEditorWidget::Text;
    if (word == QLatin1String("combo"))
        return ZorEditorWidget::Combo;
    return ZorEditorWidget::Integer;
}

QString kindOfShape(const QString &shape)
{
    if (shape == QLatin1String("dial") || shape == QLatin1String("slider"))
        return QStringLiteral("integer");
    if (shape == QLatin1String("radio"))
        return QStringLiteral("combo");
    return QStringLiteral("text");
}

int toPosition(double value)
{
    const double limit = std::numeric_limits<int>::max();
    return int(std::llround(qBound(-limit, value, limit)));
}

QString cellText(const QModelIndex &index, int column)
{
    return index.sibling(index.row(), column).data().toString();
}

}

ZorEditorWidget::ZorEditorWidget(QWidget *parent)
    : QWidget(parent)
    , ui(new Ui::ZorEditorWidget)
{
    ui->setupUi(this);
    applySpec(QString(), QString());
    connect(ui->dial, &QDial::valueChanged, this, qOverload<int>(&ZorEditorWidget::setValue));
    connect(ui->horizontalSlider, &QSlider::valueChanged, this,
            qOverload<int>(&ZorEditorWidget::setValue));
    connect(ui->lineEdit, &QLineEdit::textChanged, this, &ZorEditorWidget::lineEditChanged);
    connect(ui->comboBox, qOverload<int>(&QComboBox::currentIndexChanged), this,
            &ZorEditorWidget::setValueIndex);
}

ZorEditorWidget::~ZorEditorWidget()
{
    delete ui;
}

void ZorEditorWidget::setModel(QAbstractItemModel *model)
{
    if (m_model)
        disconnect(m_model, &QAbstractItemModel::dataChanged, this, &ZorEditorWidget::dataChanged);
    m_model = model;
    m_cell = QPersistentModelIndex();
    if (model)
        connect(model, &QAbstractItemModel::dataChanged, this, &ZorEditorWidget::dataChanged);
}

void ZorEditorWidget::setValueName(const QString &name)
{
    m_name = name;
    ui->labelName->setText(name);
}

void ZorEditorWidget::setComment(const QString &comment)
{
    ui->labelComment->setText(comment);
}

void ZorEditorWidget::updateAccess(const QModelIndex &index)
{
    const QModelIndex access = index.isValid() ? index.sibling(index.row(), AccessColumn)
                                               : QModelIndex();
    if (!access.isValid()) {
        m_readOnly = true;
    } else {
        const QString text = access.data().toString();
        m_readOnly = !text.isEmpty() && !text.contains(QLatin1Char('w'));
    }
    for (QWidget *control : {static_cast<QWidget *>(ui->dial), static_cast<QWidget *>(ui->horizontalSlider),
                             static_cast<QWidget *>(ui->lineEdit), static_cast<QWidget *>(ui->comboBox)})
        control->setEnabled(!m_readOnly);
}

void ZorEditorWidget::applySpec(const QString &spec, const QString &scaling)
{
    m_applying = true;
    // The controls follow the new spec silently; the value is set after.
    const QSignalBlocker dialBlocker(ui->dial);
    const QSignalBlocker sliderBlocker(ui->horizontalSlider);
    const QSignalBlocker comboBlocker(ui->comboBox);
    const QSignalBlocker lineBlocker(ui->lineEdit);

    const QMap<QString, QString> entries = parseSpec(spec);
    m_kind = kindOf(entries.value(QStringLiteral("type")));
    m_min = 99999;
    m_max = -99999;
    m_decimals = 0;
    m_scale = 1;
    if (m_kind == Float) {
        bool ok = false;
        const int decimals = entries.value(QStringLiteral("decimals")).toInt(&ok);
        m_decimals = ok ? qBound(0, decimals, 6) : DefaultFloatDecimals;
        m_scale = std::pow(10.0, m_decimals);
    }
    for (auto it = entries.cbegin(); it != entries.cend(); ++it) {
        if (it.key() == QLatin1String("options") && m_kind == Combo) {
            ui->comboBox->clear();
            for (const QString &option : it.value().split(QLatin1Char('|'), Qt::SkipEmptyParts)) {
                const int comma = option.indexOf(QLatin1Char(','));
                const QString value = (comma < 0 ? option : option.left(comma)).trimmed();
                const QString label = comma < 0 ? value : option.mid(comma + 1).trimmed();
                ui->comboBox->addItem(label + QStringLiteral(" (%1)").arg(value), value);
            }
        } else if (it.key() == QLatin1String("range")) {
            const QStringList parts = it.value().split(QLatin1Char(','));
            if (m_kind == Float) {
                m_min = parts.value(0).trimmed().toDouble();
                m_max = parts.value(1).trimmed().toDouble();
            } else {
                m_min = parts.value(0).trimmed().toInt();
                m_max = parts.value(1).trimmed().toInt();
            }
        }
    }

    const bool combo = m_kind == Combo;
    const bool ranged = m_kind != Text && m_max > m_min;
    ui->comboBox->setVisible(combo);
    ui->lineEdit->setVisible(!combo);
    ui->horizontalSlider->setVisible(ranged && !combo);
    ui->dial->setVisible(ranged && !combo && !m_readOnly);

    // A validator only where the range says what fits; free text otherwise.
    delete ui->lineEdit->validator();
    ui->lineEdit->setValidator(nullptr);
    if (ranged) {
        if (m_kind == Float) {
            auto *validator = new QDoubleValidator(m_min, m_max, m_decimals, ui->lineEdit);
            validator->setNotation(QDoubleValidator::StandardNotation);
            validator->setLocale(QLocale::c());
            ui->lineEdit->setValidator(validator);
        } else if (!combo) {
            ui->lineEdit->setValidator(new RangeValidator(int(m_min), int(m_max), ui->lineEdit));
        }
        const int low = toPosition(m_min * m_scale);
        const int high = toPosition(m_max * m_scale);
        for (QAbstractSlider *s : {static_cast<QAbstractSlider *>(ui->dial),
                                   static_cast<QAbstractSlider *>(ui->horizontalSlider)})
            s->setRange(low, high);
        int single = 1;
        int page = 5;
        const QString scalingText = scaling.trimmed();
        if (!combo && !scalingText.isEmpty()) {
            const ValueScaling valueScaling(scalingText);
            if (valueScaling.isFactor())
                single = page = toPosition(std::trunc(std::fabs(valueScaling.factor()) * m_scale));
        } else if (!combo) {
            single = int((double(high) - low) / 100);
            page = int((double(high) - low) / 20);
        }
        for (QAbstractSlider *s : {static_cast<QAbstractSlider *>(ui->dial),
                                   static_cast<QAbstractSlider *>(ui->horizontalSlider)}) {
            s->setSingleStep(qMax(1, single));
            s->setPageStep(qMax(1, page));
        }
    }
    if (ranged && !combo)
        ui->labelName->setText(QStringLiteral("%1 [%2 - %3]")
                                   .arg(m_name, QString::number(m_min, 'g', 6),
                                        QString::number(m_max, 'g', 6)));
    else
        ui->labelName->setText(m_name);
    m_applying = false;
}

void ZorEditorWidget::selected(const QModelIndex &index)
{
    if (!index.isValid()) {
        m_cell = QPersistentModelIndex();
        setValueName(QString());
        setComment(QString());
        updateAccess(QModelIndex());
        applySpec(QString(), QString());
        takeValue(QString(), true);
        return;
    }
    const QModelIndex cell = index.sibling(index.row(), ValueColumn);
    if (!cell.isValid())
        return;
    m_cell = cell;
    if (!m_model)
        return;
    setComment(cellText(index, CommentColumn));
    setValueName(cellText(index, NameColumn));
    updateAccess(index);
    applySpec(cellText(index, SpecColumn), cellText(index, ScalingColumn));
    takeValue(cellText(index, ValueColumn), true);
}

int ZorEditorWidget::positionOf(const QString &text) const
{
    if (m_kind == Float)
        return toPosition(text.trimmed().toDouble() * m_scale);
    return text.trimmed().toInt();
}

void ZorEditorWidget::setValue(const QString &text)
{
    takeValue(text, false);
}

void ZorEditorWidget::takeValue(const QString &text, bool refresh)
{
    if (m_applying || (!refresh && text == m_valueText))
        return;
    m_valueText = text;
    m_position = positionOf(text);

    // The controls only show the value: a dial or slider clamped to its
    // range, a line edit whose validator refuses the text, must not write a
    // value of their own back (an object outside the editor's range stays
    // as it is, and selecting its row changes nothing).
    {
        const QSignalBlocker dialBlocker(ui->dial);
        const QSignalBlocker sliderBlocker(ui->horizontalSlider);
        const QSignalBlocker lineBlocker(ui->lineEdit);
        const QSignalBlocker comboBlocker(ui->comboBox);
        if (ui->dial->isVisibleTo(this))
            ui->dial->setValue(m_position);
        if (ui->horizontalSlider->isVisibleTo(this))
            ui->horizontalSlider->setValue(m_position);
        if (ui->lineEdit->isVisibleTo(this) && ui->lineEdit->text() != text)
            ui->lineEdit->setText(text);
        if (ui->comboBox->isVisibleTo(this))
            ui->comboBox->setCurrentIndex(ui->comboBox->findData(text, Qt::UserRole, Qt::MatchExactly));
    }

    // Showing a row (refresh) never writes: only a change the user makes.
    if (!refresh && m_model && m_cell.isValid() && m_cell.data(Qt::EditRole).toString() != text)
        m_model->setData(m_cell, text, Qt::EditRole);
}

void ZorEditorWidget::setValue(int position)
{
    if (m_applying || position == m_position)
        return;
    if (m_kind == Float)
        setValue(QString::number(position / m_scale, 'g', 15));
    else
        setValue(QString::number(position));
}

void ZorEditorWidget::setValueIndex(int index)
{
    if (index < 0 || m_applying)
        return;
    const QVariant value = ui->comboBox->itemData(index);
    if (value.isValid())
        setValue(value.toString());
}

void ZorEditorWidget::lineEditChanged(const QString &text)
{
    // Only what the range admits reaches the table: "5" on the way to "50"
    // in a range of 10 to 250 never does.
    if (ui->lineEdit->validator() && !ui->lineEdit->hasAcceptableInput())
        return;
    setValue(text);
}

void ZorEditorWidget::dataChanged(const QModelIndex &topLeft, const QModelIndex &bottomRight)
{
    if (!m_model || !m_cell.isValid() || m_cell.parent() != topLeft.parent())
        return;
    if (m_cell.row() < topLeft.row() || m_cell.row() > bottomRight.row())
        return;
    setValue(m_cell.data().toString());
}

QString ZorEditorWidget::normalizeSpec(const QString &text)
{
    QMap<QString, QString> entries = parseSpec(text);
    QStringList out;
    if (entries.contains(QStringLiteral("shape")) || entries.contains(QStringLiteral("type"))) {
        QString shape;
        if (!entries.contains(QStringLiteral("shape"))) {
            const QString type = entries.take(QStringLiteral("type"));
            static const QStringList kinds = {"text", "combo", "float", "integer"};
            if (kinds.contains(type))
                out << QStringLiteral("type:") + type;
            else
                shape = type;
        } else {
            shape = entries.take(QStringLiteral("shape"));
        }
        if (!shape.isEmpty())
            out << QStringLiteral("type:") + kindOfShape(shape);
    }
    for (auto it = entries.cbegin(); it != entries.cend(); ++it) {
        if (it.key() == QLatin1String("range")) {
            const QStringList parts = it.value().split(QLatin1Char(','), Qt::SkipEmptyParts);
            bool lowOk = false;
            bool highOk = false;
            if (parts.size() == 2) {
                parts.at(0).toDouble(&lowOk);
                parts.at(1).toDouble(&highOk);
            }
            if (lowOk && highOk) {
                out << QStringLiteral("range:") + it.value();
                continue;
            }
            QStringList options;
            for (const QString &part : parts) {
                const int colon = part.indexOf(QLatin1Char(':'));
                if (colon >= 0)
                    options << part.left(colon).trimmed() + QLatin1Char(',')
                            + part.mid(colon + 1).trimmed();
            }
            out << QStringLiteral("options:") + options.join(QLatin1Char('|'));
        } else if (it.key() != QLatin1String("step") && it.key() != QLatin1String("updates")) {
            out << it.key() + QLatin1Char(':') + it.value();
        }
    }
    return out.join(QStringLiteral("; "));
}
