// The update wizard: the user logs in to the configured update server, the
// wizard fetches the user's catalogue and shows the version it offers,
// installs that version into a new folder beside the application folder, and
// offers to start the new program and end this one (through the main
// window's app-control commands "startprocess" and "exit").
//
// The server is "UpdateUrl" (http or https; credentials sent over plain http
// to another machine are warned about), the user's catalogue is
// "<UpdateUserPrefix><user>-Catalog.zorctl" in that folder, and the HTTP
// login is the prefixed user name with the password. The catalogue saved in
// each installed folder is what the next check compares against.
//
// The forward action of each step is the default button (Enter). "Restart
// with new version" first checks that the new program is executable, asks
// the main window to start it, and ends this one only once the main window
// answers that it started (appControlResponse); otherwise the wizard stays
// open, says why, and the new folder is left for the user.
#pragma once

#include "zormessage.h"

#include <QDialog>
#include <QPointer>

class QLabel;
class QLineEdit;
class QPlainTextEdit;
class QProgressBar;
class QPushButton;
class ZorCatalog;

class ZorUpdateDialog : public QDialog
{
    Q_OBJECT
public:
    // The wizard's steps; 3 is not used.
    enum Step { StepLogin = 0, StepChecking = 1, StepOffered = 2, StepInstalled = 4, StepError = 5,
                StepClosed = 6 };

    explicit ZorUpdateDialog(QWidget *parent = nullptr);
    ~ZorUpdateDialog() override;

    // True when "UpdateUserPrefix" and "UpdateUrl", each trimmed, are both
    // set; the main window offers its update action only then.
    static bool isUpdateConfigured();
    // The catalogue's address: the server folder, a "/" where it lacks one,
    // and the catalogue's file name (percent-encoded where needed).
    static QString catalogUrl(const QString &updateUrl, const QString &catalogFileName);
    // True when a login to `url` would cross the network unencrypted: plain
    // http to a host other than this machine.
    static bool sendsCredentialsInClear(const QString &url);

    // The installed application folder: its catalogue is compared against,
    // and new versions go beside it. The program's folder unless set here.
    void setApplicationFolder(const QString &folder) { m_applicationFolder = folder; }
    int step() const { return m_step; }

signals:
    void msgOut(const ZorMessage &msg);

public slots:
    void setStatus(const QString &text);
    void onDownloadProgressUpdate(qint64 done, qint64 total);
    void wizardNextStep();
    void wizardCanceled();
    void catalogInitializationCompleted(bool ok, const QString &errorText, bool downloadFailed);
    void catalogInstallCompleted(bool ok);
    // The main window's answer to an app-control request.
    void appControlResponse(const ZorMessage &msg);

protected:
    void closeEvent(QCloseEvent *event) override;
    void done(int result) override;

private:
    void startCheck();
    void startInstallation();
    void restart();
    void showError(const QString &text);
    // Makes the next button, when enabled, the one Enter presses; otherwise
    // the cancel button.
    void setForward(bool nextIsForward);
    void offerDownload(const QString &text);
    void backToLogin(const QString &text);
    // Makes the new version's folder in `parent` and saves the catalogue in
    // it; the folder's path, or empty on failure.
    QString createVersionFolder(const QString &parent);
    QString catalogFileName() const;
    QString programFileName() const;
    void dropCatalog();

    QLabel *m_userNameLabel;
    QLabel *m_passwordLabel;
    QLineEdit *m_userNameEdit;
    QLineEdit *m_passwordEdit;
    QPushButton *m_nextButton;
    QPushButton *m_cancelButton;
    QPlainTextEdit *m_log;
    QProgressBar *m_progressBar;
    QPointer<ZorCatalog> m_catalog;
    QString m_userName;
    QString m_password;
    QString m_userPrefix;
    QString m_latestVersion;
    QString m_catalogFileName;
    QString m_applicationFolder;
    int m_step = StepLogin;
    // The start of the new program, while its answer is awaited.
    ZorMessage m_restartRequest;
    bool m_restartPending = false;
};
