#include "zorcandriverunavailable.h"

#include <QCoreApplication>

ZorCanDriverUnavailable::ZorCanDriverUnavailable(const QString &name)
    : m_name(name)
{
}

bool ZorCanDriverUnavailable::open(const QString &, int, int, int, int)
{
    m_errorText = QCoreApplication::translate("ZorCanDriverUnavailable",
                                              "The %1 CAN driver is not available in this build.")
                      .arg(m_name);
    return false;
}

bool ZorCanDriverUnavailable::takeRx(int &count)
{
    count = 0;
    return false;
}

bool ZorCanDriverUnavailable::rxFrame(int, QByteArray &)
{
    return false;
}

bool ZorCanDriverUnavailable::queueTx(QByteArray &)
{
    return false;
}

bool ZorCanDriverUnavailable::flushTx(bool)
{
    return false;
}

bool ZorCanDriverUnavailable::statusText(QString &text, int &)
{
    text.clear();
    return notFailed();
}
