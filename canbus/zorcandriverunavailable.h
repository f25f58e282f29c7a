// Stand-in for a CAN driver that this build does not contain. It never
// opens; lastErrorText says which driver is missing, so the CAN interface
// module shows that instead of a bare failure.
#pragma once

#include "zorabstractcandriver.h"

class ZorCanDriverUnavailable : public ZorAbstractCanDriver
{
public:
    // name: the adapter kind as shown to the user ("IXXAT").
    explicit ZorCanDriverUnavailable(const QString &name);

    bool open(const QString &portText, int bitRate, int debugLevel, int reserved,
              int timestampMode) override;
    void close() override {}
    bool takeRx(int &count) override;
    bool rxFrame(int index, QByteArray &record) override;
    bool queueTx(QByteArray &record) override;
    bool flushTx(bool fromModule) override;
    bool statusText(QString &text, int &statusBits) override;
    // "The %1 CAN driver is not available in this build." once open was tried.
    QString lastErrorText() override { return m_errorText; }
    bool notFailed() override { return m_errorText.isEmpty(); }
    bool isOpen() override { return false; }
    bool failed() override { return !notFailed(); }
    int capacity() override { return 1; }

private:
    QString m_name;
    QString m_errorText;
};
