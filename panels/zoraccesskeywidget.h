// The access-key bar of a node or drive panel.
//
// The user picks a key class and types a key number; the widget asks the
// panel's module to set its property "AccessKeySet" ("AccessKeySet=class,key",
// the key in decimal; the bare "AccessKeySet=" clears it). The module
// announces its key classes in "AccessKeyDefinitions" (lines of
// comma-separated fields: field 0 the class, field 4 its key number) and
// reports the current key and its result in "AccessKeySet" ("class,key,ok"
// or "class,key,error"); the key field turns green or red by the result.
// The widget hides itself while the module offers no key classes. Panels
// pass every message from their module to msgIn.
#pragma once

#include "zormessage.h"

#include <QMap>
#include <QPointer>
#include <QWidget>

namespace Ui {
class ZorAccessKeyWidget;
}
class ZorPanel;

class ZorAccessKeyWidget : public QWidget
{
    Q_OBJECT
public:
    explicit ZorAccessKeyWidget(QWidget *parent = nullptr);
    ~ZorAccessKeyWidget() override;

    // Sends through the panel and asks its module for both properties.
    void attachToPanel(ZorPanel *panel);

    // The key number kept for a class (0 for an unknown class).
    quint32 keyOf(const QString &keyClass) const { return m_keys.value(keyClass); }

signals:
    void msgOut(ZorMessage msg);

public slots:
    void msgIn(ZorMessage msg);
    void sendGuiMsg(ZorMessage msg);
    void setNewKey();
    void forceNewKey();
    void keyClassChanged(int index);

private:
    void request(int type, const QString &text);
    void applyDefinitions(const QString &value);
    void applyKeySet(const QString &value);

    Ui::ZorAccessKeyWidget *ui;
    QPointer<ZorPanel> m_panel;
    QMap<QString, quint32> m_keys;
    QString m_definitions;
};
