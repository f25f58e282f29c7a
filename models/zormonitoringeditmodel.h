// The monitoring list of the data-log panel as an object table: which data
// objects are sampled, how ("Sampling": Off, Software, TPDO1.0.4, ...) and
// how often ("Rate", 50..60000 ms).
//
// It is an object edit model (ZorObjEditModel) with two more columns, stored
// as attributes of each object element:
//   14 "Sampling"  attribute "monitorMethod": always kept as a canonical
//                  method text (tpdo2,6 on an unsigned16 object is stored as
//                  TPDO2.6.2); a method number of older tables is shown by
//                  its name, an empty one as "Software"
//   15 "Rate"      attribute "monitorInterval": ms, shown and stored within
//                  50..60000 (empty or 0: 100)
// Only Name, Scaling, Sampling and Rate are editable; Sampling and Rate not
// at all when the sampling is locked (fixed for the model's life).
//
// monitorConfiguration() turns the table into the list text that travels in
// KM_DAQ_CONFIG (one ZorDaqObject line per row, see zordaqobject.h).
#pragma once

#include "zorobjeditmodel.h"

class ZorMonitoringEditModel : public ZorObjEditModel
{
    Q_OBJECT
public:
    enum MonitorColumn { SamplingColumn = 14, RateColumn = 15, MonitorColumnCount = 16 };

    ZorMonitoringEditModel(QDomDocument doc, QObject *parent = nullptr, bool samplingLocked = false);
    ~ZorMonitoringEditModel() override;

    int columnCount(const QModelIndex &parent = QModelIndex()) const override;
    QVariant headerData(int section, Qt::Orientation orientation,
                        int role = Qt::DisplayRole) const override;
    QVariant data(const QModelIndex &index, int role = Qt::DisplayRole) const override;
    bool setData(const QModelIndex &index, const QVariant &value, int role = Qt::EditRole) override;
    Qt::ItemFlags flags(const QModelIndex &index) const override;
    void prepareExportElement(QDomElement &element) const override;

    bool isSamplingLocked() const { return m_samplingLocked; }
    // The list text of the table: one entry line per top-level row, in row
    // order, each ended by a line feed.
    QString monitorConfiguration() const;

    // An interval text as the table keeps it: 0 or no number 100, else
    // within 50..60000.
    static int normalisedInterval(const QVariant &value);

private:
    const bool m_samplingLocked;
};
