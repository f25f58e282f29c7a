#include "zorxmlnesting.h"

#include <QVector>
#include <QXmlStreamReader>

ZorXmlNesting::Result ZorXmlNesting::check(const QString &text, int maxModuleDepth)
{
    QXmlStreamReader reader(text);
    // As the project is parsed: prefixes are plain parts of names.
    reader.setNamespaceProcessing(false);
    QVector<bool> isModule;   // the open elements, innermost last
    isModule.reserve(MaxElementDepth);
    int moduleDepth = 0;
    while (!reader.atEnd()) {
        switch (reader.readNext()) {
        case QXmlStreamReader::StartElement: {
            const bool module = reader.name() == QLatin1String("module");
            moduleDepth += module ? 1 : 0;
            if (moduleDepth > maxModuleDepth || isModule.size() >= MaxElementDepth)
                return TooDeep;
            isModule.append(module);
            break;
        }
        case QXmlStreamReader::EndElement:
            if (!isModule.isEmpty() && isModule.takeLast())
                --moduleDepth;
            break;
        default:
            break;
        }
    }
    return reader.hasError() ? NotWellFormed : Allowed;
}
