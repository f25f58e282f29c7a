#include "zornewplotdialog.h"

#include "zorquestionbox.h"

#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTableWidget>
#include <QVBoxLayout>

ZorNewPlotDialog::ZorNewPlotDialog(QWidget *parent)
    : QDialog(parent)
{
    qRegisterMetaType<QList<ZorNewPlotConfigurationData>>();
    // "acqua" is no colour name the toolkit knows: it is aqua, #00ffff.
    static const char *const names[] = {"navy", "maroon", "green", "teal", "olive", "purple",
                                        "blue", "red", "lime", "#00ffff", "yellow", "fuchsia"};
    for (const char *name : names)
        m_palette.append(QColor(QLatin1String(name)));
}

QColor ZorNewPlotDialog::paletteColour(int row) const
{
    return m_palette.at(row % m_palette.size());
}

void ZorNewPlotDialog::setupDialog(const QList<QPair<QString, QString>> &objects, const QString &title,
                                   const QString &preselectedId)
{
    setWindowTitle(tr("Create New Plot"));
    setWindowFlags(Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowCloseButtonHint);

    m_titleLabel = new QLabel(tr("Plot Title"), this);
    m_title = new QLineEdit(this);
    m_title->setObjectName(QStringLiteral("lineEditTitle"));
    m_title->setMaxLength(40);
    m_title->setText(title);

    m_table = new QTableWidget(int(objects.size()), 2, this);
    m_table->setObjectName(QStringLiteral("tableObjects"));
    m_table->setHorizontalHeaderLabels({tr("Index"), tr("Name")});
    m_table->verticalHeader()->hide();
    for (int row = 0; row < objects.size(); ++row) {
        const QString &id = objects.at(row).first;
        auto *idItem = new QTableWidgetItem(id);
        idItem->setFlags(Qt::ItemIsSelectable | Qt::ItemIsEnabled | Qt::ItemIsUserCheckable);
        idItem->setCheckState(!preselectedId.isEmpty() && preselectedId == id ? Qt::Checked : Qt::Unchecked);
        m_table->setItem(row, 0, idItem);
        auto *nameItem = new QTableWidgetItem(objects.at(row).second);
        nameItem->setFlags(Qt::ItemIsSelectable | Qt::ItemIsEnabled);
        m_table->setItem(row, 1, nameItem);
    }
    m_table->resizeColumnsToContents();
    m_table->horizontalHeader()->setStretchLastSection(true);

    m_create = new QPushButton(tr("Create Plot"), this);
    m_create->setObjectName(QStringLiteral("btnCreate"));
    m_create->setDefault(true);
    m_cancel = new QPushButton(tr("Cancel"), this);
    m_cancel->setObjectName(QStringLiteral("btnCancel"));
    m_cancel->setDefault(false);
    m_cancel->setAutoDefault(false);
    connect(m_create, &QPushButton::clicked, this, &ZorNewPlotDialog::on_btnCreate_clicked);
    connect(m_cancel, &QPushButton::clicked, this, &ZorNewPlotDialog::on_btnCancel_clicked);

    auto *layout = new QVBoxLayout(this);
    auto *titleRow = new QHBoxLayout;
    titleRow->addWidget(m_titleLabel);
    titleRow->addWidget(m_title);
    layout->addLayout(titleRow);
    layout->addWidget(m_table);
    auto *buttons = new QHBoxLayout;
    buttons->addWidget(m_create);
    buttons->addWidget(m_cancel);
    layout->addLayout(buttons);
    resize(qMax(width(), 520), qMax(height(), 360));
}

void ZorNewPlotDialog::on_btnCreate_clicked()
{
    if (!m_table)
        return;
    const QString title = m_title->text().trimmed();
    QList<ZorNewPlotConfigurationData> curves;
    for (int row = 0; row < m_table->rowCount(); ++row) {
        const QTableWidgetItem *id = m_table->item(row, 0);
        if (!id || id->checkState() != Qt::Checked)
            continue;
        const QTableWidgetItem *name = m_table->item(row, 1);
        curves.append(ZorNewPlotConfigurationData(id->text(), name ? name->text() : QString(),
                                                  paletteColour(row)));
    }
    if (curves.isEmpty()) {
        ZorQuestionBox::warn(this, tr("No Data Selected"),
                             tr("You must select at least one data object for this plot."));
        return;
    }
    accept();
    emit plotConfigured(title, curves);
}

void ZorNewPlotDialog::on_btnCancel_clicked()
{
    reject();
}
