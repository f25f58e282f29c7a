// Test helpers for the node panels: a stand-in node module that records
// what a panel sends and answers object lists the way the node module does
// (the same message back, with the result lines), and a recorder of the
// questions a panel asks, answering them without a window.
#pragma once

#include "zorbabelfish.h"
#include "zormessage.h"
#include "zorpanel.h"
#include "zorquestionbox.h"

#include <QHash>
#include <QList>
#include <QSet>
#include <QStringList>
#include <QTest>

// The node's side: records the panel's messages; answers on request.
class FakeNode : public QObject
{
    Q_OBJECT
public:
    explicit FakeNode(ZorPanel *panel)
        : m_panel(panel)
    {
        ZorMessage::registerMetaType();
        connect(panel, &ZorPanel::msgOut, this, [this](const ZorMessage &m) { sent.append(m); });
    }

    QList<ZorMessage> sent;
    // Object values the node holds, by data-object id ("001.1000h.00h").
    QHash<QString, QString> values;

    QList<ZorMessage> ofType(int type) const
    {
        QList<ZorMessage> list;
        for (const ZorMessage &m : sent)
            if (m.msgType() == type)
                list.append(m);
        return list;
    }
    QStringList textsOf(int type) const
    {
        QStringList texts;
        for (const ZorMessage &m : ofType(type))
            texts << m.data().toString();
        return texts;
    }
    // The object-list requests not answered yet, oldest first.
    QList<ZorMessage> unanswered() const
    {
        QList<ZorMessage> list;
        for (const ZorMessage &m : sent)
            if ((m.msgType() == KM_OBJLIST_READ || m.msgType() == KM_OBJLIST_WRITE)
                && !m_answered.contains(m.msgId()))
                list.append(m);
        return list;
    }

    // The result lines the node module gives for a list: a read line gets
    // the value the node holds (or "timeout" when it holds none), a write
    // line an empty result field and its value is kept. Texts with "," or
    // "#" travel as quoted fields both ways.
    QString resultOf(const ZorMessage &request)
    {
        QString result;
        for (const QString &line : request.data().toString().split('\n')) {
            const int hash = ZorBabelFish::indexOutsideQuotes(line, '#');
            const QString command = (hash < 0 ? line : line.left(hash)).trimmed();
            const QString comment = hash < 0 ? QString() : line.mid(hash + 1).trimmed();
            const QStringList fields = ZorBabelFish::splitOutsideQuotes(command, ',');
            const QString id = fields.value(0).trimmed();
            if (!ZorBabelFish::isDataObjectId(id)) {
                result += line + '\n';
                continue;
            }
            QString out;
            if (request.msgType() == KM_OBJLIST_READ) {
                out = values.contains(id)
                    ? QStringLiteral("%1,%2,%3").arg(id, fields.value(1), ZorBabelFish::quoteField(values.value(id)))
                    : QStringLiteral("%1,%2,,timeout").arg(id, fields.value(1));
            } else {
                const QString value = ZorBabelFish::unquoteField(fields.value(2).trimmed());
                values.insert(id, value);
                out = QStringLiteral("%1,%2,%3,").arg(id, fields.value(1), ZorBabelFish::quoteField(value));
            }
            result += out + (comment.isEmpty() ? QString() : " # " + comment) + '\n';
        }
        return result;
    }

    // Answers a request: the same message back in `state` with its result
    // lines (or the given text).
    void answer(const ZorMessage &request, int state = KS_ANSWER, const QString &text = QString())
    {
        m_answered.insert(request.msgId());
        ZorMessage reply = request;
        reply.setMsgState(state);
        reply.setData(text.isNull() ? resultOf(reply) : text);
        m_panel->msgIn(reply);
    }
    // Answers the oldest open request; false when there is none.
    bool answerNext(int state = KS_ANSWER)
    {
        const QList<ZorMessage> open = unanswered();
        if (open.isEmpty())
            return false;
        answer(open.first(), state);
        return true;
    }
    // Tells the panel a property's value, as the module answers a request.
    void property(const QString &name, const QString &value)
    {
        m_panel->msgIn(ZorMessage(KM_GETPROPERTY, KS_ANSWER, name + '=' + value));
    }
    void report(int type, const QVariant &data)
    {
        m_panel->msgIn(ZorMessage(type, KS_INFO, data));
    }

private:
    ZorPanel *m_panel;
    QSet<int> m_answered;
};

// Records every question and answers with the next queued button (the
// given default when none is queued).
class QuestionRecorder
{
public:
    explicit QuestionRecorder(QMessageBox::StandardButton fallback = QMessageBox::Cancel)
        : m_fallback(fallback)
    {
        m_previous = ZorQuestionBox::setHook([this](const ZorQuestionBox::Question &q) {
            asked.append(q);
            return buttons.isEmpty() ? m_fallback : buttons.takeFirst();
        });
    }
    ~QuestionRecorder() { ZorQuestionBox::setHook(m_previous); }

    QList<ZorQuestionBox::Question> asked;
    QList<QMessageBox::StandardButton> buttons;

    QStringList titles() const
    {
        QStringList list;
        for (const auto &q : asked)
            list << q.title;
        return list;
    }

private:
    QMessageBox::StandardButton m_fallback;
    ZorQuestionBox::Hook m_previous;
};

// The rows of the Store and Reset actions both node panels have: the action,
// the question's title and text, and the command sent once it is answered OK.
inline void addStoreAndResetRows()
{
    QTest::addColumn<QString>("actionName");
    QTest::addColumn<QString>("title");
    QTest::addColumn<QString>("text");
    QTest::addColumn<QString>("command");
    QTest::newRow("store") << "actionStore" << "Store parameters"
                           << "Store all parameters permanently. Are you sure?" << "StoreCmd";
    QTest::newRow("reset") << "actionReset" << "Reset to Factory"
                           << "Reset all parameters to factory settings. Are you sure?" << "ResetCmd";
}
