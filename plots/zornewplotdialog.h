// ZorNewPlotDialog: the modal dialog in which the user picks the data
// objects of a new time plot (one checkable row per channel) and gives it a
// title. "Create Plot" refuses an empty selection; otherwise it closes the
// dialog and emits plotConfigured with one curve record per checked row,
// coloured from a palette of twelve by the row's position.
#pragma once

#include "zornewplotconfigurationdata.h"

#include <QDialog>
#include <QList>
#include <QPair>
#include <QStringList>

class QLabel;
class QLineEdit;
class QPushButton;
class QTableWidget;

class ZorNewPlotDialog : public QDialog
{
    Q_OBJECT
public:
    explicit ZorNewPlotDialog(QWidget *parent = nullptr);

    // objects: (data-object id, display name) per row; the row of
    // preselectedId (exact match) starts checked.
    void setupDialog(const QList<QPair<QString, QString>> &objects, const QString &title,
                     const QString &preselectedId);

    // The palette colour of a table row.
    QColor paletteColour(int row) const;
    QLineEdit *titleEdit() const { return m_title; }
    QTableWidget *objectTable() const { return m_table; }

signals:
    void plotConfigured(const QString &title, const QList<ZorNewPlotConfigurationData> &curves);

public slots:
    void on_btnCreate_clicked();
    void on_btnCancel_clicked();

private:
    QLabel *m_titleLabel = nullptr;
    QLineEdit *m_title = nullptr;
    QTableWidget *m_table = nullptr;
    QPushButton *m_create = nullptr;
    QPushButton *m_cancel = nullptr;
    QList<QColor> m_palette;
};
