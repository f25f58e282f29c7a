#include "zorruntimelayout.h"

#include <QCoreApplication>
#include <QStringList>
#include <QtEndian>

namespace {

const char Bom[] = "\xEF\xBB\xBF";
const int SignatureSize = 6;
const int StartHeaderSize = 32;

QString tr(const char *text)
{
    return QCoreApplication::translate("ZorRuntimeStub", text);
}

// The text stored with every byte turned, and turned back at run time by a
// key the compiler cannot know: the program's bytes never hold the plain
// text, so searching its own file finds the one that follows the program.
QByteArray unscrambled(const char *scrambled, int size)
{
    static volatile unsigned char key = 0x5a;
    QByteArray text(size, Qt::Uninitialized);
    for (int i = 0; i < size; ++i)
        text[i] = char(static_cast<unsigned char>(scrambled[i]) ^ key);
    return text;
}

} // namespace

QByteArray ZorRuntimeLayout::configBeginMarker()
{
    // BOM ";!@Install@!UTF-8!", each byte XOR 0x5a.
    static const char text[] = "\xb5\xe1\xe5\x61\x7b\x1a\x13\x34\x29\x2e\x3b\x36\x36\x1a\x7b\x0f\x0e\x1c\x77\x62\x7b";
    return unscrambled(text, int(sizeof(text)) - 1);
}

QByteArray ZorRuntimeLayout::configEndMarker()
{
    // ";!@InstallEnd@!", each byte XOR 0x5a.
    static const char text[] = "\x61\x7b\x1a\x13\x34\x29\x2e\x3b\x36\x36\x1f\x34\x3e\x1a\x7b";
    return unscrambled(text, int(sizeof(text)) - 1);
}

QString ZorRuntimeLayout::settingValue(const QString &line, const QString &name)
{
    const QString trimmed = line.trimmed();
    if (!trimmed.startsWith(name + QLatin1Char('='), Qt::CaseInsensitive))
        return QString();
    QString raw = trimmed.mid(name.size() + 1).trimmed();
    if (raw.size() >= 2 && raw.startsWith(QLatin1Char('"')) && raw.endsWith(QLatin1Char('"')))
        raw = raw.mid(1, raw.size() - 2);
    QString value;
    for (int i = 0; i < raw.size(); ++i) {
        if (raw.at(i) == QLatin1Char('\\') && i + 1 < raw.size())
            ++i;
        value += raw.at(i);
    }
    return value;
}

bool ZorRuntimeLayout::isSafeRelativePath(const QString &path)
{
    if (path.isEmpty() || path.startsWith(QLatin1Char('/')) || path.contains(QLatin1Char('\\'))
        || (path.size() >= 2 && path.at(1) == QLatin1Char(':')))
        return false;
    const QStringList parts = path.split(QLatin1Char('/'));
    for (int i = 0; i < parts.size(); ++i) {
        const QString &part = parts.at(i);
        // A folder entry may end with "/".
        if (part.isEmpty() && i == parts.size() - 1 && i > 0)
            continue;
        if (part.isEmpty() || part == QLatin1String("..") || part == QLatin1String("."))
            return false;
        for (const QChar c : part) {
            if (c.unicode() < 0x20)
                return false;
        }
    }
    return true;
}

bool ZorRuntimeLayout::fail(const QString &text)
{
    m_error = text;
    return false;
}

bool ZorRuntimeLayout::read(const char *data, qint64 size)
{
    m_error.clear();
    m_title.clear();
    m_programPath.clear();
    m_archive = nullptr;
    m_archiveSize = 0;

    const QByteArray file = QByteArray::fromRawData(data, int(qMin<qint64>(size, INT_MAX)));
    const QByteArray begin = configBeginMarker();
    const int configAt = file.indexOf(begin);
    if (configAt < 0)
        return fail(tr("it holds no runtime configuration (it is the bare stub, or its end is missing)"));
    const int textAt = configAt + int(sizeof(Bom)) - 1;
    const int endAt = file.indexOf(configEndMarker(), textAt);
    if (endAt < 0)
        return fail(tr("its runtime configuration has no end"));

    const QString config = QString::fromUtf8(file.constData() + textAt, endAt - textAt);
    for (const QString &line : config.split(QLatin1Char('\n'))) {
        if (line.trimmed().startsWith(QLatin1String("Title="), Qt::CaseInsensitive))
            m_title = settingValue(line, QStringLiteral("Title"));
        else if (line.trimmed().startsWith(QLatin1String("RunProgram="), Qt::CaseInsensitive))
            m_programPath = settingValue(line, QStringLiteral("RunProgram"));
    }
    m_programPath.replace(QLatin1Char('\\'), QLatin1Char('/'));
    if (m_programPath.isEmpty())
        return fail(tr("its runtime configuration names no program to start"));
    if (!isSafeRelativePath(m_programPath) || programInFolder().isEmpty())
        return fail(tr("its runtime configuration names the program \"%1\", which is not a file "
                       "inside the packed folder").arg(m_programPath));

    int archiveAt = endAt + configEndMarker().size();
    while (archiveAt < file.size() && (file.at(archiveAt) == '\r' || file.at(archiveAt) == '\n'))
        ++archiveAt;
    static const QByteArray signature("7z\xBC\xAF\x27\x1C", SignatureSize);
    if (file.mid(archiveAt, SignatureSize) != signature)
        return fail(tr("no packed files follow its runtime configuration"));
    const qint64 available = size - archiveAt;
    if (available < StartHeaderSize)
        return fail(tr("its packed files are cut short"));
    // The start header gives where the archive's own header lies and how
    // long it is, which is where the archive ends.
    const uchar *header = reinterpret_cast<const uchar *>(data + archiveAt);
    const quint64 nextOffset = qFromLittleEndian<quint64>(header + 12);
    const quint64 nextSize = qFromLittleEndian<quint64>(header + 20);
    const quint64 needed = quint64(StartHeaderSize) + nextOffset + nextSize;
    if (nextOffset > quint64(available) || nextSize > quint64(available) || needed > quint64(available))
        return fail(tr("its packed files are cut short (%1 of %2 bytes are there): the file was not "
                       "copied or downloaded completely")
                        .arg(available)
                        .arg(needed));
    m_archive = data + archiveAt;
    m_archiveSize = qint64(needed);
    return true;
}
