// The panel of modules that have no panel of their own.
//
// It knows nothing about the module: it asks for all of the module's
// properties and builds one row (name and line edit) per property, bound to
// the property through the panel base. The module tells which properties are
// read-only through the pseudo-property "_ReadOnly" (a comma-separated list
// of names; each name counts by its property key, in any case). Start and
// Stop buttons, a state line coloured by the module status and a log of the
// module's info and log texts complete it.
#pragma once

#include "zorpanel.h"

#include <QLineEdit>
#include <QMap>
#include <QPointer>
#include <QStringList>

namespace Ui {
class ZorContentDefaultClass;
}

class ZorContentDefault : public ZorPanel
{
    Q_OBJECT
public:
    explicit ZorContentDefault(QWidget *parent = nullptr);
    ~ZorContentDefault() override;

    bool setupZorPanel(const QPersistentModelIndex &index, ZorAbstractDomModel *model) override;

    // The line edit of a property row (by the full name, unit included);
    // null when there is no such row.
    QLineEdit *editorOf(const QString &name) const { return m_editors.value(name).data(); }
    QStringList readOnlyNames() const { return m_readOnly; }

public slots:
    void processIn(const ZorMessage &msg) override;
    void setState(int status);

    void on_pushButtonStart_clicked(bool checked);
    void on_pushButtonStop_clicked();

private:
    void buildGrid(const QString &properties);
    void applyReadOnly(const QString &names);

    Ui::ZorContentDefaultClass *ui;
    QStringList m_readOnly;
    QMap<QString, QPointer<QLineEdit>> m_editors;
    bool m_gridBuilt = false;
};
