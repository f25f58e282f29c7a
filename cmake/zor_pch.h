// A small precompiled header that a target may reuse (REUSE_FROM zor_pch);
// no target does by default. Each file includes the Qt headers it uses.
#pragma once
#ifdef __cplusplus
#include <QObject>
#include <QString>
#include <QStringList>
#include <QByteArray>
#include <QVariant>
#include <QList>
#include <QMap>
#endif
