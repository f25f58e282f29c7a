#include "zorcatalog.h"
#include "zornetaccessmanager.h"

#include "zorapplservices.h"

#include <QDir>
#include <QDomDocument>
#include <QDomElement>
#include <QDomNodeList>
#include <QFile>
#include <QFileInfo>
#include <QSet>
#include <QTimer>
#include <QUrl>

namespace {

const char kDateFormat[] = "yyyy-MM-dd hh:mm:ss.zzz";

QDateTime resetDate()
{
    return QDateTime::fromString(QStringLiteral("1990-01-01 00:00:00.000"), QLatin1String(kDateFormat));
}

// A name that stays one folder entry wherever it is put: not empty, not "."
// or "..", no separator, no control character, none of the characters that
// file names may not hold.
bool isPlainName(const QString &name)
{
    if (name.isEmpty() || name == QLatin1String(".") || name == QLatin1String(".."))
        return false;
    if (name.contains(QLatin1Char('/')) || name.contains(QLatin1Char('\\'))
        || ZorApplServices::hasInvalidFileNameChars(name))
        return false;
    for (const QChar c : name) {
        if (c.unicode() < 0x20 || c.unicode() == 0x7f)
            return false;
    }
    return true;
}

} // namespace

ZorCatalog::ZorCatalog(QObject *parent, const QString &userName, const QString &password)
    : QObject(parent)
    , m_generationDate(resetDate())
    , m_downloader(new ZorNetAccessManager(this, userName, password))
{
    connect(m_downloader.data(), &ZorNetAccessManager::downloadFinished, this,
            &ZorCatalog::fileDownloaded);
}

ZorCatalog::~ZorCatalog()
{
    delete m_downloader.data();
    if (!m_workFolder.isEmpty() && QFileInfo(m_workFolder).isDir())
        ZorApplServices::removeDirRecursively(m_workFolder);
}

void ZorCatalog::reset()
{
    m_entries.clear();
    m_title.clear();
    m_description.clear();
    m_catalogBytes.clear();
    m_workFolder.clear();
    m_installFolder.clear();
    m_catalogUrl.clear();
    m_downloads.clear();
    m_generationDate = resetDate();
}

bool ZorCatalog::initialize(const QString &url, const QString &catalogFileName)
{
    // A work folder of an earlier call goes with it.
    if (!m_workFolder.isEmpty() && QFileInfo(m_workFolder).isDir())
        ZorApplServices::removeDirRecursively(m_workFolder);
    reset();
    const QString name = QStringLiteral("Catalog-tmp-") + ZorApplServices::uniqueId();
    QDir temp = QDir::temp();
    if (!isPlainName(catalogFileName) || !temp.mkpath(name))
        return false;
    m_workFolder = QDir::fromNativeSeparators(temp.absoluteFilePath(name));
    m_catalogRequestUrl = url;
    m_downloader->download(url, QDir::cleanPath(m_workFolder + QLatin1Char('/') + catalogFileName));
    emit statusChanged(tr("Connecting to update server..."));
    return true;
}

bool ZorCatalog::loadCatalog(const QString &path, bool keepState)
{
    if (!keepState)
        reset();
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return false;
    const QByteArray bytes = file.readAll();
    QDomDocument doc;
    if (!doc.setContent(bytes, false))
        return false;
    if (!parse(doc))
        return false;
    m_catalogBytes = bytes;
    return true;
}

bool ZorCatalog::parse(const QDomDocument &doc)
{
    const QDomElement root = doc.documentElement();
    const QDomElement title = root.firstChildElement(QStringLiteral("Title"));
    const QDomElement description = root.firstChildElement(QStringLiteral("Description"));
    const QDomElement date = root.firstChildElement(QStringLiteral("GenerationDate"));
    if (title.isNull() || description.isNull() || date.isNull())
        return false;

    QList<CatalogEntry> entries;
    QSet<QString> linkTexts;
    int linkCount = 0;
    const QDomNodeList packages = doc.elementsByTagName(QStringLiteral("Package"));
    for (int i = 0; i < packages.count(); ++i) {
        const QDomElement package = packages.at(i).toElement();
        CatalogEntry entry(this);
        entry.name = package.attribute(QStringLiteral("name"));
        entry.description = package.attribute(QStringLiteral("description"));
        entry.category = package.attribute(QStringLiteral("category"));
        entry.user = package.attribute(QStringLiteral("user"));
        const QString folder = categoryFolder(entry.category);
        if (!folder.isEmpty() && !isPlainName(folder))
            return false;
        const QDomNodeList links = package.elementsByTagName(QStringLiteral("Link"));
        for (int j = 0; j < links.count(); ++j) {
            CatalogLink link;
            link.url = links.at(j).toElement().attribute(QStringLiteral("url"));
            // Each file is downloaded and counted once, and lands inside
            // its folder.
            if (!isPlainName(localFileName(link.url)) || linkTexts.contains(link.url))
                return false;
            linkTexts.insert(link.url);
            entry.links.append(link);
        }
        linkCount += entry.links.size();
        entries.append(entry);
    }
    if (entries.isEmpty() || linkCount < entries.size())
        return false;

    m_title = title.text();
    m_description = description.text();
    m_generationDate = QDateTime::fromString(date.text(), QLatin1String(kDateFormat));
    m_entries.append(entries);
    return true;
}

ZorNetAccessManager *ZorCatalog::downloader() const
{
    return m_downloader.data();
}

int ZorCatalog::componentCount() const
{
    int count = 0;
    for (const CatalogEntry &entry : m_entries)
        count += entry.links.size();
    return count;
}

QString ZorCatalog::localFileName(const QString &linkText)
{
    return ZorApplServices::pathLastPart(linkText);
}

QString ZorCatalog::categoryFolder(const QString &category)
{
    if (category == QLatin1String("core"))
        return QString();
    if (category == QLatin1String("template"))
        return QStringLiteral("Templates");
    if (category == QLatin1String("project"))
        return QStringLiteral("Projects");
    if (category == QLatin1String("whatsnew"))
        return QStringLiteral("WhatsNew");
    return category.simplified();
}

// The link text is a path of the server's folder, written as its file names
// are: each part is percent-encoded as the catalogue's own name is, so that
// blanks and letters beyond ASCII reach the server as what they are.
QString ZorCatalog::componentUrl(const QString &linkText) const
{
    QStringList parts = linkText.split(QLatin1Char('/'));
    for (QString &part : parts)
        part = QString::fromLatin1(QUrl::toPercentEncoding(part));
    return ZorApplServices::pathWithoutLastPart(m_catalogUrl) + QLatin1Char('/') + parts.join(QLatin1Char('/'));
}

// Components are kept apart by their place in the download order, so that
// two links ending in the same file name never overwrite each other, nor the
// catalogue file.
QString ZorCatalog::componentWorkPath(const QString &url) const
{
    const int index = m_downloads.keys().indexOf(url);
    return QStringLiteral("%1/components/%2-%3")
        .arg(m_workFolder)
        .arg(index, 4, 10, QLatin1Char('0'))
        .arg(localFileName(m_downloads.value(url)));
}

void ZorCatalog::install(const QString &installFolder)
{
    m_whatsNewFile.clear();
    m_installFolder = installFolder;
    m_downloadedCount = 0;
    m_downloads.clear();
    for (CatalogEntry &entry : m_entries) {
        for (CatalogLink &link : entry.links) {
            link.downloaded = false;
            m_downloads.insert(componentUrl(link.url), link.url);
        }
    }
    m_installing = true;
    emit statusChanged(tr("Downloading of %1 components started...").arg(componentCount()));
    if (!QDir().mkpath(m_workFolder + QStringLiteral("/components"))) {
        failInstall();
        return;
    }
    downloadComponent(0);
}

void ZorCatalog::downloadComponent(int index)
{
    if (index < 0 || index >= m_downloads.size())
        return;
    const QString url = m_downloads.keys().at(index);
    m_downloader->download(url, componentWorkPath(url));
}

bool ZorCatalog::markDownloaded(const QString &linkText)
{
    for (CatalogEntry &entry : m_entries) {
        if (entry.markDownloaded(linkText))
            return true;
    }
    return false;
}

bool ZorCatalog::allDownloaded() const
{
    for (const CatalogEntry &entry : m_entries) {
        if (!entry.allDownloaded())
            return false;
    }
    return true;
}

void ZorCatalog::failInstall()
{
    m_installing = false;
    if (m_downloader)
        m_downloader->abortAll();
    emit catalogInstallCompleted(false);
}

void ZorCatalog::fileDownloaded(bool ok, const QString &url, const QString &localPath, int errorCode)
{
    if (!m_catalogRequestUrl.isEmpty() && url == m_catalogRequestUrl) {
        m_catalogRequestUrl.clear();
        if (ok) {
            m_catalogUrl = url;
            const bool loaded = loadCatalog(localPath, true);
            emit catalogInitializationCompleted(
                loaded, loaded ? QString() : tr("Could not load downloaded catalog file."), false);
        } else {
            const QString reason = m_downloader->failureText(errorCode, url);
            if (!reason.isEmpty())
                emit statusChanged(reason);
            emit catalogInitializationCompleted(
                false,
                errorCode == -1
                    ? tr("User authentication failed. Please check the User Name and Password.")
                    : QString(),
                true);
        }
        return;
    }
    if (!m_installing)
        return;
    if (!ok || !m_downloads.contains(url) || !markDownloaded(m_downloads.value(url))) {
        const QString reason = m_downloader->failureText(errorCode, url);
        if (!reason.isEmpty())
            emit statusChanged(reason);
        failInstall();
        return;
    }
    ++m_downloadedCount;
    const int total = componentCount();
    emit downloadProgress(m_downloadedCount, total);
    emit statusChanged(tr("Downloaded %1 out of %2 components.").arg(m_downloadedCount).arg(total));
    if (allDownloaded()) {
        m_installing = false;
        emit statusChanged(tr("Download complete. Copying files..."));
        QTimer::singleShot(100, this, &ZorCatalog::extractCatalog);
    } else {
        downloadComponent(m_downloadedCount);
    }
}

void ZorCatalog::extractCatalog()
{
    bool ok = true;
    int core = -1;
    for (int i = 0; i < m_entries.size() && core < 0; ++i) {
        if (m_entries.at(i).category == QLatin1String("core"))
            core = i;
    }
    if (core >= 0)
        ok = installEntry(m_entries.at(core));
    for (int i = 0; ok && i < m_entries.size(); ++i) {
        if (i != core)
            ok = installEntry(m_entries.at(i));
    }
    emit catalogInstallCompleted(ok);
}

bool ZorCatalog::installEntry(const CatalogEntry &entry)
{
    const QString subfolder = categoryFolder(entry.category);
    QString folder = m_installFolder;
    if (!subfolder.isEmpty()) {
        folder += QLatin1Char('/') + subfolder;
        QDir(m_installFolder).mkdir(subfolder);
    }
    const bool whatsNew = entry.category == QLatin1String("whatsnew");
    for (const CatalogLink &link : entry.links) {
        const QString downloaded = componentWorkPath(componentUrl(link.url));
        if (!installFile(downloaded, folder, localFileName(link.url), whatsNew))
            return false;
    }
    return true;
}

bool ZorCatalog::installFile(const QString &downloaded, const QString &targetFolder,
                             const QString &fileName, bool whatsNew)
{
    if (!QFileInfo(downloaded).isFile())
        return false;
    const QString target = targetFolder + QLatin1Char('/') + fileName;
    const QString folderPath = QFileInfo(targetFolder).absoluteFilePath();
    if (QFileInfo(target).suffix() == QLatin1String("zip")) {
        if (ZorApplServices::unzipArchive(downloaded, targetFolder))
            return true;
        emit statusChanged(tr("Could not extract from '%1' to '%2'")
                               .arg(QFileInfo(downloaded).absoluteFilePath(), folderPath));
        return false;
    }
    const QString absoluteTarget = QFileInfo(target).absoluteFilePath();
    if (QFileInfo::exists(target) && !QFile::remove(target)) {
        emit statusChanged(tr("Could not remove '%1'").arg(absoluteTarget));
        return false;
    }
    if (!QFile::copy(downloaded, target)) {
        emit statusChanged(tr("Could not copy from '%1' to '%2'").arg(downloaded, targetFolder));
        return false;
    }
    if (whatsNew)
        m_whatsNewFile = absoluteTarget;
    return true;
}

// The file is written as it was read: serialised again, a processing
// instruction inside a text gains a line break (and the title read back
// differs), and the encoding it declares might no longer be the one used.
bool ZorCatalog::writeCatalogFile(const QString &path) const
{
    if (m_catalogBytes.isEmpty() || QFileInfo::exists(path))
        return false;
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly | QIODevice::NewOnly))
        return false;
    if (file.write(m_catalogBytes) == m_catalogBytes.size() && file.flush())
        return true;
    file.remove();
    return false;
}

QString ZorCatalog::versionText() const
{
    if (m_title.isEmpty())
        return QString();
    return m_title + QLatin1Char(' ') + m_generationDate.toString(QStringLiteral("yyyy-MM-dd"));
}

bool ZorCatalog::differsFrom(const ZorCatalog &other) const
{
    if (m_title != other.m_title || m_generationDate != other.m_generationDate
        || m_description != other.m_description || m_entries.size() != other.m_entries.size())
        return true;
    for (int i = 0; i < m_entries.size(); ++i) {
        const CatalogEntry &a = m_entries.at(i);
        const CatalogEntry &b = other.m_entries.at(i);
        if (a.name != b.name || a.category != b.category || a.links.size() != b.links.size())
            return true;
        for (int j = 0; j < a.links.size(); ++j) {
            if (a.links.at(j).url != b.links.at(j).url)
                return true;
        }
    }
    return false;
}
