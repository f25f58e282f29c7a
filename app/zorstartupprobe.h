// Start-up probe for tests and benchmarks, switched on by the environment
// variable QUORVANE_STARTUP_PROBE (any non-empty value).
//
// It watches the first windows the program shows. A message box is reported
// on stdout ("message: <text>") and closed, so a start that fails does not
// wait for a user; when the main window is shown, the probe prints
// "window_title: <title>", "style: <widget style class>" and
// "startup_to_window: <ms> ms" (time since the
// probe was created at the top of main) and quits the event loop.
#pragma once

#include <QByteArray>
#include <QElapsedTimer>
#include <QObject>

class ZorStartupProbe : public QObject
{
    Q_OBJECT
public:
    // Installs a probe on the application when the variable is set; returns
    // it (owned by the application) or null.
    static ZorStartupProbe *installIfRequested(const QElapsedTimer &sinceStart);

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    explicit ZorStartupProbe(const QElapsedTimer &sinceStart, QObject *parent);
    void reportMainWindow(QWidget *window);
    void quitFromMainLoop();

    QElapsedTimer m_sinceStart;
    QByteArray m_styleClass;
    bool m_reported = false;
};
