#include "zorscriptstopkey.h"

#include <QApplication>
#include <QKeyEvent>
#include <QList>
#include <QPointer>
#include <QWidget>

namespace {

struct Watched
{
    QPointer<QWidget> panel;
    std::function<bool()> running;
    std::function<void()> stop;
};

// Sees every key press of the application before the shortcuts do: the
// shortcut map first asks the focus widget whether it takes the key
// (QEvent::ShortcutOverride), once per press, and that question passes the
// application's event filters.
class StopKeyFilter : public QObject
{
public:
    QList<Watched> watched;

protected:
    bool eventFilter(QObject *object, QEvent *event) override
    {
        if (event->type() == QEvent::ShortcutOverride) {
            // Once, at the widget that has the focus (or the window, when
            // no widget has it), not again where a window hands it on.
            QWidget *focus = QApplication::focusWidget();
            if (focus ? object == focus : object->isWidgetType())
                escPressed(static_cast<QKeyEvent *>(event));
        }
        return QObject::eventFilter(object, event);
    }

private:
    void escPressed(const QKeyEvent *key)
    {
        if (key->key() != Qt::Key_Escape || key->modifiers() != Qt::NoModifier || key->isAutoRepeat())
            return;
        // Dialogs and menus close on Esc.
        if (QApplication::activeModalWidget() || QApplication::activePopupWidget())
            return;
        QWidget *focus = QApplication::focusWidget();
        for (int i = watched.size() - 1; i >= 0; --i)
            if (!watched.at(i).panel)
                watched.removeAt(i);
        // Inside a registered panel its own Esc stops it.
        for (const Watched &w : qAsConst(watched))
            if (focus && (focus == w.panel || w.panel->isAncestorOf(focus)))
                return;
        const QList<Watched> now = watched;
        for (const Watched &w : now)
            if (w.panel && w.running())
                w.stop();
    }
};

StopKeyFilter *filter()
{
    static QPointer<StopKeyFilter> instance;
    if (!instance) {
        instance = new StopKeyFilter;
        instance->setParent(qApp);
        qApp->installEventFilter(instance);
    }
    return instance;
}

} // namespace

void ZorScriptStopKey::watch(QWidget *panel, std::function<bool()> running, std::function<void()> stop)
{
    if (!panel || !qApp)
        return;
    StopKeyFilter *f = filter();
    for (Watched &w : f->watched) {
        if (w.panel == panel) {
            w.running = std::move(running);
            w.stop = std::move(stop);
            return;
        }
    }
    f->watched.append({panel, std::move(running), std::move(stop)});
}
