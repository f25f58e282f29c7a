// The precompiled header every library, test program and benchmark reuses:
// the QtCore headers nearly every file includes. Each file still includes
// the Qt headers it uses.
#pragma once
#ifdef __cplusplus
#include <QObject>
#include <QString>
#include <QStringList>
#include <QByteArray>
#include <QVariant>
#include <QList>
#include <QMap>
#include <QHash>
#include <QVector>
#include <QDebug>
#include <QDateTime>
#include <QTimer>
#endif
