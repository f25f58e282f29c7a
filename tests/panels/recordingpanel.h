// A panel for tests of the panel base: it records what reaches processIn
// (with the text of a watched label at that moment) and everything it sends.
#pragma once

#include "zorpanel.h"

#include <QLabel>
#include <QList>
#include <QPointer>

class RecordingPanel : public ZorPanel
{
    Q_OBJECT
public:
    explicit RecordingPanel(QWidget *parent = nullptr)
        : ZorPanel(parent)
    {
        ZorMessage::registerMetaType();
        connect(this, &ZorPanel::msgOut, this, [this](const ZorMessage &m) { sent.append(m); });
    }

    QList<ZorMessage> sent;
    QList<ZorMessage> received;
    // What `watched` showed when each message reached processIn.
    QStringList watchedTexts;
    QPointer<QLabel> watched;
    QString objection;

    QString commitPanelSettings() override { return objection; }
    // Qt delivers drops only during a real drag; tests hand the event over.
    void drop(QDropEvent *event) { dropEvent(event); }

    QList<ZorMessage> sentOfType(int type) const
    {
        QList<ZorMessage> result;
        for (const ZorMessage &m : sent)
            if (m.msgType() == type)
                result.append(m);
        return result;
    }

public slots:
    void processIn(const ZorMessage &msg) override
    {
        received.append(msg);
        watchedTexts.append(watched ? watched->text() : QString());
    }
};
