// Precompiled header shared by all libraries and tests: the Qt headers that
// nearly every file includes.
#pragma once
#ifdef __cplusplus
#include <QtCore>
#include <QtGui>
#include <QtWidgets>
#include <QtXml>
#include <QtNetwork>
#include <QtTest>
#endif
