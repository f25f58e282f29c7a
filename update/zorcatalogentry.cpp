#include "zorcatalogentry.h"

bool CatalogEntry::markDownloaded(const QString &linkText)
{
    for (CatalogLink &link : links) {
        if (link.url.compare(linkText, Qt::CaseInsensitive) != 0)
            continue;
        if (link.downloaded)
            return false;
        link.downloaded = true;
        return true;
    }
    return false;
}

bool CatalogEntry::allDownloaded() const
{
    for (const CatalogLink &link : links) {
        if (!link.downloaded)
            return false;
    }
    return true;
}
