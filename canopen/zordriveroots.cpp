#include "zordriveroots.h"

#include <QDir>
#include <QFileInfo>
#include <QStorageInfo>
#include <mutex>

namespace {

std::mutex overrideMutex;
bool overridden = false;
QStringList overrideRoots;

QStringList systemRoots()
{
    QStringList roots;
#ifdef Q_OS_WIN
    for (const QFileInfo &drive : QDir::drives())
        roots << drive.absoluteFilePath();
#else
    static const char *const removableBases[] = {"/media/", "/run/media/", "/mnt/"};
    for (const QStorageInfo &volume : QStorageInfo::mountedVolumes()) {
        if (!volume.isValid() || !volume.isReady())
            continue;
        const QString root = volume.rootPath();
        for (const char *base : removableBases) {
            if (root.startsWith(QLatin1String(base))) {
                roots << root;
                break;
            }
        }
    }
#endif
    return roots;
}

} // namespace

QStringList ZorDriveRoots::list()
{
    {
        std::lock_guard<std::mutex> lock(overrideMutex);
        if (overridden)
            return overrideRoots;
    }
    return systemRoots();
}

void ZorDriveRoots::setOverride(const QStringList &roots)
{
    std::lock_guard<std::mutex> lock(overrideMutex);
    overridden = true;
    overrideRoots = roots;
}

void ZorDriveRoots::reset()
{
    std::lock_guard<std::mutex> lock(overrideMutex);
    overridden = false;
    overrideRoots.clear();
}
