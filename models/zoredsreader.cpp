#include "zoredsreader.h"

#include "zorbabelfish.h"

#include <QCoreApplication>
#include <QHash>
#include <QMap>
#include <QRegularExpression>

namespace {

using Section = QHash<QString, QString>; // lower-case key -> value

QString decode(const QByteArray &bytes)
{
    // Most files are plain ASCII; the others are UTF-8 or Latin-1.
    const QString utf8 = QString::fromUtf8(bytes);
    return utf8.contains(QChar::ReplacementCharacter) ? QString::fromLatin1(bytes) : utf8;
}

QString numberText(const QString &text)
{
    bool ok = false;
    const quint32 n = ZorBabelFish::stringToULong(text.trimmed(), &ok);
    return ok ? QString::number(n) : text.trimmed();
}

void setIfPresent(QDomElement &e, const Section &s, const char *key, const QString &attribute)
{
    const QString value = s.value(QLatin1String(key)).trimmed();
    if (!value.isEmpty())
        e.setAttribute(attribute, value);
}

void fillElement(QDomElement &e, const Section &s)
{
    setIfPresent(e, s, "parametername", QStringLiteral("name"));
    const QString objectType = s.value(QStringLiteral("objecttype")).trimmed();
    e.setAttribute(QStringLiteral("objectType"),
                   objectType.isEmpty() ? QStringLiteral("7") : numberText(objectType));
    setIfPresent(e, s, "datatype", QStringLiteral("dataType"));
    const QString access = s.value(QStringLiteral("accesstype")).trimmed().toLower();
    if (!access.isEmpty())
        e.setAttribute(QStringLiteral("accessType"), access);
    setIfPresent(e, s, "defaultvalue", QStringLiteral("defaultValue"));
    setIfPresent(e, s, "parametervalue", QStringLiteral("actualValue"));
    setIfPresent(e, s, "lowlimit", QStringLiteral("lowLimit"));
    setIfPresent(e, s, "highlimit", QStringLiteral("highLimit"));
    const QString mapping = s.value(QStringLiteral("pdomapping")).trimmed();
    if (!mapping.isEmpty())
        e.setAttribute(QStringLiteral("PDOmapping"),
                       numberText(mapping) == QLatin1String("0") ? QStringLiteral("no")
                                                                 : QStringLiteral("optional"));
    const QString subNumber = s.value(QStringLiteral("subnumber")).trimmed();
    if (!subNumber.isEmpty())
        e.setAttribute(QStringLiteral("subNumber"), numberText(subNumber));
}

}

bool ZorEdsReader::toObjectTable(const QByteArray &eds, QDomDocument &doc, QString *error)
{
    static const QRegularExpression objectSection(
        QStringLiteral("^([0-9a-f]{4})(?:sub([0-9a-f]{1,2}))?$"),
        QRegularExpression::CaseInsensitiveOption);

    // index -> (subindex or -1 for the object -> section)
    QMap<int, QMap<int, Section>> objects;
    Section *current = nullptr;
    for (const QString &rawLine : decode(eds).split(QLatin1Char('\n'))) {
        const QString line = rawLine.trimmed();
        if (line.isEmpty() || line.startsWith(QLatin1Char(';')))
            continue;
        if (line.startsWith(QLatin1Char('[')) && line.endsWith(QLatin1Char(']'))) {
            current = nullptr;
            const QRegularExpressionMatch m = objectSection.match(line.mid(1, line.size() - 2).trimmed());
            if (m.hasMatch()) {
                const int index = m.captured(1).toInt(nullptr, 16);
                const int sub = m.captured(2).isEmpty() ? -1 : m.captured(2).toInt(nullptr, 16);
                current = &objects[index][sub];
            }
            continue;
        }
        const int eq = line.indexOf(QLatin1Char('='));
        if (current && eq > 0)
            current->insert(line.left(eq).trimmed().toLower(), line.mid(eq + 1));
    }

    QDomDocument out;
    QDomElement list = out.createElement(QStringLiteral("CANopenObjectList"));
    out.appendChild(list);
    int count = 0;
    for (auto o = objects.cbegin(); o != objects.cend(); ++o) {
        const QMap<int, Section> &sections = o.value();
        if (!sections.contains(-1))
            continue;
        QDomElement object = out.createElement(QStringLiteral("CANopenObject"));
        object.setAttribute(QStringLiteral("index"),
                            QStringLiteral("%1").arg(o.key(), 4, 16, QLatin1Char('0')).toUpper());
        fillElement(object, sections.value(-1));
        for (auto s = sections.cbegin(); s != sections.cend(); ++s) {
            if (s.key() < 0)
                continue;
            QDomElement sub = out.createElement(QStringLiteral("CANopenSubObject"));
            sub.setAttribute(QStringLiteral("subIndex"),
                             QStringLiteral("%1").arg(s.key(), 2, 16, QLatin1Char('0')).toUpper());
            fillElement(sub, s.value());
            object.appendChild(sub);
        }
        list.appendChild(object);
        ++count;
    }
    if (count == 0) {
        if (error)
            *error = QCoreApplication::translate("ZorEdsReader",
                                                 "The file holds no CANopen object.");
        return false;
    }
    doc = out;
    return true;
}
