#include "zorupdatedialog.h"
#include "zorcatalog.h"

#include "zorapplservices.h"

#include <QCloseEvent>
#include <QCoreApplication>
#include <QDir>
#include <QFileDialog>
#include <QFileInfo>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QHostAddress>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QScrollBar>
#include <QUrl>
#include <QVBoxLayout>

using ZorApplServices::appGlobal;

namespace {

const int kMaxLoginLength = 30;

// A user name becomes part of a file name and of the catalogue's address.
bool isUsableUserName(const QString &name)
{
    return !name.contains(QLatin1Char('/')) && !name.contains(QLatin1Char('\\'))
           && !ZorApplServices::hasInvalidFileNameChars(name) && name != QLatin1String("..")
           && name != QLatin1String(".");
}

// The version text names the new folder; it comes from the server, so
// nothing in it may lead out of the parent folder.
QString folderNameFor(const QString &version)
{
    QString name;
    for (const QChar c : version) {
        const bool bad = c == QLatin1Char('/') || c == QLatin1Char('\\') || c.unicode() < 0x20
                         || ZorApplServices::hasInvalidFileNameChars(QString(c));
        name += bad ? QLatin1Char('_') : c;
    }
    name = name.trimmed();
    if (name.isEmpty() || name == QLatin1String(".") || name == QLatin1String(".."))
        name = QStringLiteral("Update");
    return name;
}

} // namespace

ZorUpdateDialog::ZorUpdateDialog(QWidget *parent)
    : QDialog(parent, Qt::Dialog | Qt::WindowCloseButtonHint)
    , m_userNameLabel(new QLabel(tr("User Name"), this))
    , m_passwordLabel(new QLabel(tr("Password"), this))
    , m_userNameEdit(new QLineEdit(this))
    , m_passwordEdit(new QLineEdit(this))
    , m_nextButton(new QPushButton(tr("Check for Updates"), this))
    , m_cancelButton(new QPushButton(tr("Cancel"), this))
    , m_log(new QPlainTextEdit(this))
    , m_progressBar(new QProgressBar(this))
    , m_userPrefix(appGlobal(QStringLiteral("UpdateUserPrefix")))
    , m_applicationFolder(QCoreApplication::applicationDirPath())
{
    m_userNameEdit->setObjectName(QStringLiteral("lineEditUserName"));
    m_passwordEdit->setObjectName(QStringLiteral("lineEditPassword"));
    m_nextButton->setObjectName(QStringLiteral("pushButtonNext"));
    m_cancelButton->setObjectName(QStringLiteral("pushButtonCancel"));
    m_log->setObjectName(QStringLiteral("plainTextEditLog"));
    m_progressBar->setObjectName(QStringLiteral("progressBar"));

    m_userNameEdit->setMaxLength(kMaxLoginLength);
    m_passwordEdit->setMaxLength(kMaxLoginLength);
    m_passwordEdit->setEchoMode(QLineEdit::Password);
    m_userNameLabel->setBuddy(m_userNameEdit);
    m_passwordLabel->setBuddy(m_passwordEdit);
    m_log->setReadOnly(true);
    m_progressBar->setRange(0, 100);
    m_progressBar->hide();
    // Enter presses the default button only, never the one that happens to
    // have the focus (a disabled next button hands it to Cancel).
    m_nextButton->setAutoDefault(false);
    m_cancelButton->setAutoDefault(false);
    m_nextButton->setDefault(true);

    auto *login = new QGridLayout;
    login->addWidget(m_userNameLabel, 0, 0);
    login->addWidget(m_userNameEdit, 0, 1);
    login->addWidget(m_passwordLabel, 1, 0);
    login->addWidget(m_passwordEdit, 1, 1);
    auto *buttons = new QHBoxLayout;
    buttons->addStretch();
    buttons->addWidget(m_nextButton);
    buttons->addWidget(m_cancelButton);
    auto *layout = new QVBoxLayout(this);
    layout->addLayout(login);
    layout->addWidget(m_log);
    layout->addWidget(m_progressBar);
    layout->addLayout(buttons);

    setWindowTitle(tr("Check For Updates - ") + m_userPrefix);
    resize(480, 360);

    connect(m_nextButton, &QPushButton::clicked, this, &ZorUpdateDialog::wizardNextStep);
    connect(m_cancelButton, &QPushButton::clicked, this, &ZorUpdateDialog::wizardCanceled);

    setStatus(tr("Current application: %1 %2 (AppID %3)\n%4\n")
                  .arg(appGlobal(QStringLiteral("AppTitle")), appGlobal(QStringLiteral("AppVersion")),
                       m_userPrefix, appGlobal(QStringLiteral("OrganizationName"))));
    const QString server = appGlobal(QStringLiteral("UpdateUrl")).trimmed();
    if (sendsCredentialsInClear(server)) {
        setStatus(tr("Warning: the update server %1 is reached over plain HTTP. Your user name "
                     "and password will cross the network unencrypted.")
                      .arg(QUrl(server).host()));
    }
}

ZorUpdateDialog::~ZorUpdateDialog()
{
    dropCatalog();
}

bool ZorUpdateDialog::isUpdateConfigured()
{
    return !appGlobal(QStringLiteral("UpdateUserPrefix")).trimmed().isEmpty()
           && !appGlobal(QStringLiteral("UpdateUrl")).trimmed().isEmpty();
}

QString ZorUpdateDialog::catalogUrl(const QString &updateUrl, const QString &catalogFileName)
{
    QString url = updateUrl;
    if (!url.endsWith(QLatin1Char('/')))
        url += QLatin1Char('/');
    return url + QString::fromLatin1(QUrl::toPercentEncoding(catalogFileName));
}

bool ZorUpdateDialog::sendsCredentialsInClear(const QString &url)
{
    const QUrl parsed(url);
    if (parsed.scheme().compare(QLatin1String("http"), Qt::CaseInsensitive) != 0)
        return false;
    const QString host = parsed.host();
    if (host.compare(QLatin1String("localhost"), Qt::CaseInsensitive) == 0)
        return false;
    const QHostAddress address(host);
    return address.isNull() || !address.isLoopback();
}

QString ZorUpdateDialog::catalogFileName() const
{
    return m_userPrefix + m_userName + QStringLiteral("-Catalog.zorctl");
}

QString ZorUpdateDialog::programFileName() const
{
    return QFileInfo(appGlobal(QStringLiteral("AppExePath"))).fileName();
}

void ZorUpdateDialog::setStatus(const QString &text)
{
    m_log->appendPlainText(text);
    m_log->moveCursor(QTextCursor::End);
    m_log->ensureCursorVisible();
}

void ZorUpdateDialog::onDownloadProgressUpdate(qint64 done, qint64 total)
{
    if (total == 0)
        return;
    m_progressBar->setValue(static_cast<int>(done * 100 / total));
    if (m_progressBar->isHidden())
        m_progressBar->show();
}

void ZorUpdateDialog::setForward(bool nextIsForward)
{
    const bool next = nextIsForward && !m_nextButton->isHidden() && m_nextButton->isEnabled();
    m_nextButton->setDefault(next);
    m_cancelButton->setDefault(!next);
    if (next && !m_userNameEdit->hasFocus() && !m_passwordEdit->hasFocus())
        m_nextButton->setFocus();
}

void ZorUpdateDialog::showError(const QString &text)
{
    m_step = StepError;
    setStatus(text);
    m_cancelButton->setEnabled(true);
    m_nextButton->hide();
    setForward(false);
}

void ZorUpdateDialog::offerDownload(const QString &text)
{
    setStatus(text);
    m_nextButton->setText(tr("Download"));
    m_cancelButton->setEnabled(true);
    m_nextButton->setEnabled(true);
    m_step = StepOffered;
    setForward(true);
}

void ZorUpdateDialog::backToLogin(const QString &text)
{
    setStatus(text);
    m_userNameEdit->setEnabled(true);
    m_passwordEdit->setEnabled(true);
    m_nextButton->setEnabled(true);
    m_passwordEdit->setFocus();
    m_nextButton->setText(tr("Check for Updates"));
    m_step = StepLogin;
    setForward(true);
}

void ZorUpdateDialog::wizardNextStep()
{
    switch (m_step) {
    case StepLogin:
        startCheck();
        break;
    case StepOffered:
        startInstallation();
        break;
    case StepInstalled:
        restart();
        break;
    default:
        break;
    }
}

void ZorUpdateDialog::wizardCanceled()
{
    accept();
}

void ZorUpdateDialog::startCheck()
{
    m_userNameEdit->setEnabled(false);
    m_passwordEdit->setEnabled(false);
    m_nextButton->setEnabled(false);
    const QString user = m_userNameEdit->text();
    const QString password = m_passwordEdit->text();
    if (user.isEmpty() || password.isEmpty() || !isUsableUserName(user)) {
        setStatus(tr("Login required. Please enter a valid user name and password."));
        m_userNameEdit->setEnabled(true);
        m_passwordEdit->setEnabled(true);
        m_cancelButton->setEnabled(true);
        m_nextButton->setEnabled(true);
        return;
    }
    m_step = StepChecking;
    m_userName = user;
    m_password = password;
    const QString server = appGlobal(QStringLiteral("UpdateUrl")).trimmed();
    const QString scheme = QUrl(server).scheme().toLower();
    if (scheme != QLatin1String("http") && scheme != QLatin1String("https")) {
        showError(tr("Could not check for new updates: ")
                  + tr("the update server's address \"%1\" is not an http or https address.")
                        .arg(server));
        return;
    }

    // The catalogue of an earlier check goes, with its work folder.
    dropCatalog();
    m_catalog = new ZorCatalog(this, m_userPrefix + m_userName, m_password);
    connect(m_catalog.data(), &ZorCatalog::statusChanged, this, &ZorUpdateDialog::setStatus);
    connect(m_catalog.data(), &ZorCatalog::catalogInitializationCompleted, this,
            &ZorUpdateDialog::catalogInitializationCompleted);
    if (!m_catalog->initialize(catalogUrl(server, catalogFileName()), catalogFileName())) {
        showError(tr("Could not create temporary folder for update files. Please contact "
                     "technical support."));
    }
}

void ZorUpdateDialog::catalogInitializationCompleted(bool ok, const QString &errorText,
                                                     bool downloadFailed)
{
    if (m_step == StepClosed || !m_catalog)
        return;
    if (!ok) {
        if (errorText.isEmpty()) {
            showError(tr("Could not check for new updates. Please check your Internet connection, "
                         "then close this application and start it again. If the error persists, "
                         "please contact technical support."));
        } else if (downloadFailed) {
            backToLogin(errorText);
        } else {
            showError(tr("Could not check for new updates: ") + errorText);
        }
        return;
    }

    m_catalogFileName = catalogFileName();
    bool newer = true;
    const QString installed = QDir(m_applicationFolder).filePath(m_catalogFileName);
    if (QFileInfo(installed).isFile()) {
        ZorCatalog current(nullptr, m_userPrefix + m_userName, m_password);
        if (current.loadCatalog(installed, false))
            newer = current.differsFrom(*m_catalog);
    }
    m_latestVersion = m_catalog->versionText();
    setStatus(tr("\nLatest application version available: \n%1\n").arg(m_latestVersion));
    if (m_latestVersion.isEmpty()) {
        showError(tr("Failed to read update data. Please contact technical support."));
        return;
    }
    offerDownload(newer ? tr("Download this version?")
                        : tr("Your application is up to date. Do you want to download the "
                             "application files anyway?"));
}

QString ZorUpdateDialog::createVersionFolder(const QString &parent)
{
    const QString name = ZorApplServices::uniqueDirName(parent, folderNameFor(m_latestVersion));
    QDir parentDir(parent);
    if (!parentDir.mkdir(name))
        return QString();
    const QString folder = QDir::fromNativeSeparators(parentDir.absoluteFilePath(name));
    if (!m_catalog->writeCatalogFile(folder + QLatin1Char('/') + m_catalogFileName)) {
        parentDir.rmdir(name);
        return QString();
    }
    return folder;
}

void ZorUpdateDialog::startInstallation()
{
    m_nextButton->setEnabled(false);
    m_cancelButton->setEnabled(true);
    QDir parent(m_applicationFolder);
    QString folder;
    if (parent.cdUp())
        folder = createVersionFolder(parent.absolutePath());
    if (folder.isEmpty()) {
        const QString chosen = QFileDialog::getExistingDirectory(
            this, tr("Select parent folder for new application directory"), parent.absolutePath(),
            QFileDialog::ShowDirsOnly);
        if (chosen.isEmpty()) {
            showError(tr("Error: No parent installation folder selected."));
            return;
        }
        folder = createVersionFolder(chosen);
        if (folder.isEmpty()) {
            showError(tr("Error occurred during update. Could not copy the application files to "
                         "new location."));
            return;
        }
    }
    connect(m_catalog.data(), &ZorCatalog::catalogInstallCompleted, this,
            &ZorUpdateDialog::catalogInstallCompleted, Qt::UniqueConnection);
    connect(m_catalog.data(), &ZorCatalog::downloadProgress, this,
            &ZorUpdateDialog::onDownloadProgressUpdate, Qt::UniqueConnection);
    m_catalog->install(folder);
}

void ZorUpdateDialog::catalogInstallCompleted(bool ok)
{
    if (m_step == StepClosed || !m_catalog)
        return;
    if (!ok) {
        showError(tr("Update Error. Please check your Internet connection and try again. If the "
                     "error persists, please contact technical support."));
        return;
    }
    setStatus(tr("\nUpdate successful!\n\nThe new application files have been copied to:\n")
              + m_catalog->installFolder());
    m_cancelButton->setEnabled(true);
    m_cancelButton->setText(tr("Close"));
    m_step = StepInstalled;
    // Starting a program the new version does not hold would only end this one.
    const QString program = m_catalog->installFolder() + QLatin1Char('/') + programFileName();
    if (QFileInfo(program).isFile()) {
        m_nextButton->setEnabled(true);
        m_nextButton->setText(tr("Restart with new version"));
    } else {
        m_nextButton->hide();
        setStatus(tr("The new files hold no program '%1' to start.").arg(programFileName()));
    }
    setForward(true);
}

void ZorUpdateDialog::restart()
{
    if (m_restartPending)
        return;
    const QString folder = m_catalog->installFolder();
    const QString program = folder + QLatin1Char('/') + programFileName();
    // This program ends only once the new one runs: one that cannot start
    // (no execute bit, as files unpacked from a zip made on Windows have)
    // would leave the user with neither.
    if (!QFileInfo(program).isExecutable()) {
        setStatus(tr("\nThe new version cannot be started: '%1' is not an executable program (it has "
                     "no permission to run). This version stays open; the new files stay in '%2', "
                     "where you can make the program executable and start it yourself.")
                      .arg(program, folder));
        return;
    }
    const auto quoted = [](const QString &path) { return QLatin1Char('"') + path + QLatin1Char('"'); };
    QString command = QStringLiteral("startprocess,") + quoted(program);
    if (!m_catalog->whatsNewFile().isEmpty())
        command += QLatin1Char(',') + quoted(m_catalog->whatsNewFile());
    m_restartRequest = ZorMessage(KM_APPLICATION_CONTROL, KS_REQUEST, command);
    m_restartPending = true;
    m_nextButton->setEnabled(false);
    setStatus(tr("\nStarting the new version..."));
    emit msgOut(m_restartRequest);
}

void ZorUpdateDialog::appControlResponse(const ZorMessage &msg)
{
    if (!m_restartPending || msg.msgId() != m_restartRequest.msgId() || msg.msgState() == KS_REQUEST)
        return;
    m_restartPending = false;
    if (msg.msgState() == KS_ANSWER) {
        emit msgOut(ZorMessage(KM_APPLICATION_CONTROL, KS_REQUEST, QStringLiteral("exit")));
        accept();
        return;
    }
    setStatus(tr("The new version could not be started. This version stays open; the new files stay "
                 "in '%1'.")
                  .arg(m_catalog ? m_catalog->installFolder() : QString()));
    m_nextButton->setEnabled(true);
    setForward(true);
}

void ZorUpdateDialog::dropCatalog()
{
    // Deleting it aborts its transfers and removes its work folder; nothing
    // it still had under way reports afterwards.
    delete m_catalog.data();
}

void ZorUpdateDialog::closeEvent(QCloseEvent *event)
{
    m_step = StepClosed;
    dropCatalog();
    event->accept();
    QDialog::closeEvent(event);
}

// Cancel, Close, Escape and the restart all end here: downloads still
// running stop with the window.
void ZorUpdateDialog::done(int result)
{
    m_step = StepClosed;
    dropCatalog();
    QDialog::done(result);
}
