#include "zorstartupprobe.h"

#include <QApplication>
#include <QCoreApplication>
#include <QStyle>
#include <QEvent>
#include <QMainWindow>
#include <QMessageBox>
#include <QTimer>

#include <cstdio>

ZorStartupProbe::ZorStartupProbe(const QElapsedTimer &sinceStart, QObject *parent)
    : QObject(parent)
    , m_sinceStart(sinceStart)
    // Taken before any style sheet wraps the application style.
    , m_styleClass(QApplication::style()->metaObject()->className())
{
}

ZorStartupProbe *ZorStartupProbe::installIfRequested(const QElapsedTimer &sinceStart)
{
    if (qEnvironmentVariableIsEmpty("QUORVANE_STARTUP_PROBE") || !QCoreApplication::instance())
        return nullptr;
    auto *probe = new ZorStartupProbe(sinceStart, QCoreApplication::instance());
    QCoreApplication::instance()->installEventFilter(probe);
    return probe;
}

bool ZorStartupProbe::eventFilter(QObject *watched, QEvent *event)
{
    if (event->type() != QEvent::Show || !watched->isWidgetType())
        return false;
    auto *widget = static_cast<QWidget *>(watched);
    if (!widget->isWindow())
        return false;
    if (auto *box = qobject_cast<QMessageBox *>(widget)) {
        std::printf("message: %s\n", qPrintable(box->text()));
        std::fflush(stdout);
        QTimer::singleShot(0, box, [box] { box->done(QMessageBox::Ok); });
    } else if (qobject_cast<QMainWindow *>(widget) && !m_reported) {
        m_reported = true;
        // Report once the show has been processed (layout and first paint).
        QTimer::singleShot(0, this, [this, widget] { reportMainWindow(widget); });
    }
    return false;
}

void ZorStartupProbe::reportMainWindow(QWidget *window)
{
    std::printf("window_title: %s\n", qPrintable(window->windowTitle()));
    std::printf("style: %s\n", m_styleClass.constData());
    std::printf("startup_to_window: %lld ms\n", static_cast<long long>(m_sinceStart.elapsed()));
    std::fflush(stdout);
    quitFromMainLoop();
}

// A quit asked for inside a message box's own event loop would only end that
// loop, and the program's main loop, started later, would run on: the quit
// waits until no modal window is open.
void ZorStartupProbe::quitFromMainLoop()
{
    if (QApplication::activeModalWidget()) {
        QTimer::singleShot(10, this, &ZorStartupProbe::quitFromMainLoop);
        return;
    }
    QTimer::singleShot(0, QCoreApplication::instance(), &QCoreApplication::quit);
}
