// The root folders of the PC's drives that a drive adapter's SD card can be
// mounted as: on Windows every drive letter, elsewhere the mount points of
// removable media (below /media, /run/media and /mnt). Tests point the list
// at folders of their own with setOverride.
#pragma once

#include <QStringList>

class ZorDriveRoots
{
public:
    // In the order the system lists them. Any thread.
    static QStringList list();
    // Replaces the system's list (an empty list: no drive at all); reset()
    // goes back to the system's.
    static void setOverride(const QStringList &roots);
    static void reset();
};
