// ZorNewPlotConfigurationData: one curve of a time plot: the channel's
// data-object id, its display name and the curve colour. The new-plot
// dialog makes these records, the plot panel keeps them in its
// configuration document (one "CurveConfiguration" element each) and the
// plot widget draws them.
#pragma once

#include <QColor>
#include <QDomElement>
#include <QList>
#include <QMetaType>
#include <QString>

class QXmlStreamWriter;

class ZorNewPlotConfigurationData
{
public:
    ZorNewPlotConfigurationData() = default;
    ZorNewPlotConfigurationData(const QString &id, const QString &name, const QColor &colour)
        : dataObjectId(id), objectName(name), color(colour)
    {
    }

    // Reads "dataObjectId", "objectName" and "colorName"; a missing text
    // stays empty, a missing or unknown colour invalid.
    static ZorNewPlotConfigurationData fromElement(const QDomElement &element);
    // "#rrggbb" of the colour; an invalid colour is written as black.
    QString colorName() const;
    // The "CurveConfiguration" element, written through the writer so that
    // any text (quotes, "<", "&") reads back as it was.
    void writeElement(QXmlStreamWriter &writer) const;
    // The same element as text.
    QString toXml() const;

    QString dataObjectId;
    QString objectName;
    QColor color;
};

Q_DECLARE_METATYPE(ZorNewPlotConfigurationData)
