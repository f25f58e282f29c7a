#include "zorcandriverbrenko.h"

#include "ubllibrary.h"
#include "zordebuglog.h"

#include <QSettings>

namespace {

ZorCanDriverHidBase::Kind brenkoKind()
{
    ZorCanDriverHidBase::Kind kind;
    kind.productIds = {ZorCanDriverBrenko::ProductId, ZorCanDriverBrenko::SecondProductId};
    kind.drainBeforeCommand = true;
    kind.asciiOnly = true;
    kind.stampFromOpenTime = true;
    return kind;
}

} // namespace

ZorCanDriverBrenko::ZorCanDriverBrenko(QWaitCondition *rxWake, ZorHidApi *hid)
    : ZorCanDriverHidBase(rxWake, hid, brenkoKind()),
      m_bootloaderPath(QStringLiteral("Drivers/brenko/brenko_pic32_ubl"))
{
    if (QSettings().value(QStringLiteral("DebugMode")).toInt() > 2) {
        m_debugLog.reset(new ZorDebugLog);
        m_debugLog->open(QStringLiteral("candriverbrenko"));
    }
}

ZorCanDriverBrenko::~ZorCanDriverBrenko()
{
    close();
    // The receive thread may trace until the base has stopped it.
    comCloseDevice(true);
    m_debugLog.reset();
}

void ZorCanDriverBrenko::trace(const QString &text)
{
    if (m_debugLog)
        m_debugLog->write(text);
}

bool ZorCanDriverBrenko::open(const QString &portText, int bitRate, int debugLevel, int reserved,
                              int timestampMode)
{
    Q_UNUSED(portText);
    Q_UNUSED(reserved);
    const int code = bitRateCode(bitRate);
    const QByteArray commands = QByteArrayLiteral("C\rV\r")
                                + QByteArray("S") + QByteArray::number(code) + '\r'
                                + QByteArray("Z") + QByteArray::number(timestampMode) + '\r'
                                + QByteArrayLiteral("O\rV\r");
    return openChannel(bitRate, debugLevel, commands);
}

void ZorCanDriverBrenko::close()
{
    abortFirmwareUpdate();
    closeChannel();
}

QString ZorCanDriverBrenko::lastErrorText()
{
    if (m_updateProgress != 0 && m_updateProgress != 100)
        return m_updateText;
    if (!m_errorText.isEmpty())
        return m_errorText;
    return m_hidDevice ? m_hid->error(m_hidDevice) : QString();
}

bool ZorCanDriverBrenko::comTryOpen()
{
    ZorHidApi::Device device = m_hid->open(VendorId, ProductId);
    if (!device)
        device = m_hid->open(VendorId, SecondProductId);
    if (device)
        m_hid->close(device);
    trace(QStringLiteral("comTryOpen() = %1").arg(device ? 1 : 0));
    return device != nullptr;
}

bool ZorCanDriverBrenko::comCheckApplication()
{
    m_initCommands = QByteArrayLiteral("O\rV\r");
    m_closeCommand.clear();
    const bool result = comInitDevice();
    comCloseDevice(false);
    return result;
}

QString ZorCanDriverBrenko::normalizeVersion(const QString &text)
{
    QString version = text.toLower().trimmed();
    for (const char *noise : {"kelvatro", "v", "-", "_", " ", ".hex"})
        version.remove(QLatin1String(noise));
    return version.trimmed();
}

int ZorCanDriverBrenko::versionPart(const QString &text, int n)
{
    const QStringList parts = text.split(QLatin1Char('.'));
    if (n < 0 || n >= parts.size())
        return -1;
    const QString part = parts.at(n).trimmed();
    if (part.isEmpty())
        return -1;
    bool ok = false;
    const int value = part.toInt(&ok, 10);
    return ok ? value : 0;
}

bool ZorCanDriverBrenko::firmwareUpdateNeeded(const QString &targetVersion)
{
    if (targetVersion.contains(QLatin1String("noupdate"), Qt::CaseInsensitive))
        return false;
    const QString target = normalizeVersion(targetVersion);
    int c[4], t[4];
    for (int i = 0; i < 4; ++i) {
        c[i] = versionPart(m_firmwareVersion, i);
        t[i] = versionPart(target, i);
    }
    if (t[0] == -1)
        t[0] = 1;
    if (c[0] == -1 || c[0] != t[0])
        return true;
    if (t[1] != -1 && t[2] != -1 && t[3] != -1)
        return !(c[1] == t[1] && c[2] == t[2] && c[3] == t[3]);
    QString path, fileVersion;
    if (findFirmwareFile(targetVersion, path, fileVersion) != 0)
        return false;
    const QVector<int> current{c[1], c[2], c[3]};
    const QVector<int> file{versionPart(fileVersion, 1), versionPart(fileVersion, 2),
                            versionPart(fileVersion, 3)};
    return current < file;
}
