// The update catalogue: an XML file on the update server (".zorctl") that
// names the product version it offers and the packages of files making it up.
//
// The catalogue is fetched into a temporary work folder, checked, compared
// with the one saved in the installed application folder, and installed:
// every file of every package is downloaded one at a time, in ascending
// order of its URL, then each package is put into the install folder by its
// category ("core" first, into the folder itself; "template", "project" and
// "whatsnew" into their subfolders; any other category into a subfolder of
// its own name). ".zip" files are extracted there, all others copied.
//
// A catalogue is only used when everything it names stays inside the install
// folder: categories and file names must be plain names (no separators, no
// "..", none of the characters that file names may not hold), and no file may
// be named twice. Archives are checked entry by entry before extraction.
//
// GUI thread only. One catalogue serves one check of the update wizard; its
// destructor aborts its downloads and removes its work folder.
#pragma once

#include "zorcatalogentry.h"

#include <QDateTime>
#include <QList>
#include <QMap>
#include <QObject>
#include <QPointer>
#include <QString>

class QDomDocument;
class ZorNetAccessManager;

class ZorCatalog : public QObject
{
    Q_OBJECT
public:
    ZorCatalog(QObject *parent, const QString &userName, const QString &password);
    ~ZorCatalog() override;

    // Starts fetching the catalogue at `url` into the work folder, stored as
    // `catalogFileName`. False when the work folder cannot be made.
    bool initialize(const QString &url, const QString &catalogFileName);
    // Reads a catalogue file; unless keepState, whatever was loaded before
    // is dropped first. False when it cannot be read or is not valid.
    bool loadCatalog(const QString &path, bool keepState);
    // Downloads every component and installs them into `installFolder`.
    void install(const QString &installFolder);
    // Writes the loaded catalogue, byte for byte as it was read, to a new
    // file; false when nothing is loaded, the file exists already or writing
    // fails.
    bool writeCatalogFile(const QString &path) const;

    // "<title> <yyyy-MM-dd of the generation date>"; empty without a title.
    QString versionText() const;
    bool differsFrom(const ZorCatalog &other) const;

    QString title() const { return m_title; }
    QString description() const { return m_description; }
    QDateTime generationDate() const { return m_generationDate; }
    const QList<CatalogEntry> &entries() const { return m_entries; }
    int componentCount() const;
    QString installFolder() const { return m_installFolder; }
    QString whatsNewFile() const { return m_whatsNewFile; }
    QString workFolder() const { return m_workFolder; }
    // The transfers' own settings (time-out, size limit) are set here.
    ZorNetAccessManager *downloader() const;

    // The file name a link is installed under: its text after the last "/".
    static QString localFileName(const QString &linkText);
    // The subfolder of the install folder that a category installs into;
    // empty for the install folder itself.
    static QString categoryFolder(const QString &category);

signals:
    void catalogInitializationCompleted(bool ok, const QString &errorText, bool downloadFailed);
    void catalogInstallCompleted(bool ok);
    void statusChanged(const QString &text);
    // Counted in components.
    void downloadProgress(qint64 done, qint64 total);

public slots:
    void fileDownloaded(bool ok, const QString &url, const QString &localPath, int errorCode);
    void extractCatalog();

private:
    void reset();
    bool parse(const QDomDocument &doc);
    QString componentUrl(const QString &linkText) const;
    QString componentWorkPath(const QString &url) const;
    void downloadComponent(int index);
    bool markDownloaded(const QString &linkText);
    bool allDownloaded() const;
    void failInstall();
    bool installEntry(const CatalogEntry &entry);
    bool installFile(const QString &downloaded, const QString &targetFolder,
                     const QString &fileName, bool whatsNew);

    QString m_title;
    QString m_description;
    QDateTime m_generationDate;
    QString m_installFolder;
    QString m_whatsNewFile;
    QList<CatalogEntry> m_entries;
    // The catalogue file's bytes as loaded; written back unchanged.
    QByteArray m_catalogBytes;
    QPointer<ZorNetAccessManager> m_downloader;
    QString m_catalogUrl;
    // The URL the catalogue itself was asked for: its report is told from a
    // component's by this, whatever the files are called.
    QString m_catalogRequestUrl;
    QString m_workFolder;
    int m_downloadedCount = 0;
    bool m_installing = false;
    // Full URL of each component -> its link text; key order is download order.
    QMap<QString, QString> m_downloads;
};
