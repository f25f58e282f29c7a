#include "zornewplotconfigurationdata.h"

#include <QXmlStreamWriter>

ZorNewPlotConfigurationData ZorNewPlotConfigurationData::fromElement(const QDomElement &element)
{
    ZorNewPlotConfigurationData record;
    record.dataObjectId = element.attribute(QStringLiteral("dataObjectId"));
    record.objectName = element.attribute(QStringLiteral("objectName"));
    const QString colour = element.attribute(QStringLiteral("colorName"));
    if (!colour.isEmpty())
        record.color = QColor(colour);
    return record;
}

QString ZorNewPlotConfigurationData::colorName() const
{
    // QColor() names itself "#000000", which is what a record read without
    // a colour writes back.
    return color.name(QColor::HexRgb).toLower();
}

void ZorNewPlotConfigurationData::writeElement(QXmlStreamWriter &writer) const
{
    writer.writeEmptyElement(QStringLiteral("CurveConfiguration"));
    writer.writeAttribute(QStringLiteral("dataObjectId"), dataObjectId);
    writer.writeAttribute(QStringLiteral("objectName"), objectName);
    writer.writeAttribute(QStringLiteral("colorName"), colorName());
}

QString ZorNewPlotConfigurationData::toXml() const
{
    QString text;
    QXmlStreamWriter writer(&text);
    writeElement(writer);
    writer.writeEndDocument();
    return text;
}
