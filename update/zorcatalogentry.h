// One package of an update catalogue ("Package" element) and its files
// ("Link" elements). The category decides where the files are installed;
// each link names one file relative to the catalogue's folder on the server.
#pragma once

#include <QList>
#include <QString>

class ZorCatalog;

struct CatalogLink
{
    QString url;            // the "url" attribute: path below the catalogue's folder
    bool downloaded = false;
};

class CatalogEntry
{
public:
    explicit CatalogEntry(ZorCatalog *catalog = nullptr) : catalog(catalog) {}

    // Marks this entry's first link whose text equals `linkText` (ignoring
    // case) as downloaded. False when there is none, or when that link was
    // marked already.
    bool markDownloaded(const QString &linkText);
    bool allDownloaded() const;

    QString name;
    QString description;
    QString category;
    QString user;
    QList<CatalogLink> links;
    ZorCatalog *catalog;
};
