// Device descriptions into the dictionary tree: the largest sample file and
// a generated description of 5,000 objects in the form real files have
// (a parameter list with the data type, access, default value and range of
// every object, objects naming their parameter by "uniqueIDRef", namespace
// prefixes). Loading is reading and parsing the file plus building the
// model; "shown" walks every row's cells as a tree view would, which also
// completes each row (values, limits, default UI format). Last, the time a
// file nested 10,000 levels takes to be refused.
#include "devicedescriptions.h"
#include "zordevicedictmodel.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>
#include <QVector>
#include <algorithm>
#include <cstdio>

namespace {

const int GeneratedObjects = 5000;

QByteArray generatedXdd()
{
    static const char *const types[] = {"USINT", "UINT", "UDINT", "SINT", "INT", "DINT"};
    static const char *const access[] = {"readWrite", "read", "const", "write"};
    QString parameters;
    QString objects;
    for (int i = 0; i < GeneratedObjects; ++i) {
        const QString uid = QStringLiteral("UID_OBJ_%1").arg(i);
        parameters += QStringLiteral("<q1:parameter uniqueID=\"%1\" access=\"%2\"><label lang=\"en\">P%3</label>"
                                     "<%4 /><q1:defaultValue value=\"0x%5\" />%6</q1:parameter>\n")
                          .arg(uid, QLatin1String(access[i % 4]))
                          .arg(i)
                          .arg(QLatin1String(types[i % 6]))
                          .arg(i % 100, 2, 16, QLatin1Char('0'))
                          .arg(i % 3 ? QString()
                                     : QStringLiteral("<q1:allowedValues><q1:range><q1:minValue value=\"0\" />"
                                                      "<q1:maxValue value=\"%1\" /></q1:range></q1:allowedValues>")
                                           .arg(100 + i));
        objects += QStringLiteral("<CANopenObject index=\"%1\" name=\"Object %2\" objectType=\"7\" "
                                  "PDOmapping=\"no\" uniqueIDRef=\"%3\" />\n")
                       .arg(0x2000 + i, 4, 16, QLatin1Char('0'))
                       .arg(i)
                       .arg(uid);
    }
    return QStringLiteral(
               "<?xml version=\"1.0\" encoding=\"utf-8\"?>\n"
               "<ISO15745ProfileContainer xmlns=\"http://www.canopen.org/xml/1.1\"><ISO15745Profile>"
               "<ProfileBody xmlns:q1=\"http://www.canopen.org/xml/1.1\" xmlns=\"\"><q1:ApplicationProcess>"
               "<q1:parameterList>\n%1</q1:parameterList></q1:ApplicationProcess></ProfileBody></ISO15745Profile>"
               "<ISO15745Profile><ProfileBody xmlns:q2=\"http://www.canopen.org/xml/1.1\" xmlns=\"\">"
               "<ApplicationLayers><q2:CANopenObjectList>\n%2</q2:CANopenObjectList></ApplicationLayers>"
               "</ProfileBody></ISO15745Profile></ISO15745ProfileContainer>\n")
        .arg(parameters, objects)
        .toUtf8();
}

double msSince(QElapsedTimer &timer)
{
    const double ms = timer.nsecsElapsed() / 1e6;
    timer.restart();
    return ms;
}

int showAll(ZorDeviceDictModel &model, const QModelIndex &parent)
{
    int rows = 0;
    for (int r = 0; r < model.rowCount(parent); ++r) {
        const QModelIndex row = model.index(r, 0, parent);
        for (int c = 0; c < model.columnCount(); ++c)
            model.data(row.sibling(r, c));
        rows += 1 + showAll(model, row);
    }
    return rows;
}

double median(QVector<double> values)
{
    std::sort(values.begin(), values.end());
    return values.at(values.size() / 2);
}

// Each step five times, the median printed: the first load of a process
// also pays for growing its heap.
void measure(const QString &name, const QString &path)
{
    QVector<double> reads;
    QVector<double> builds;
    QVector<double> shows;
    int objects = 0;
    int rows = 0;
    for (int run = 0; run < 5; ++run) {
        QElapsedTimer timer;
        timer.start();
        QDomDocument doc;
        QString error;
        if (!ZorDeviceDictModel::readDescriptionFile(path, doc, &error)) {
            std::printf("# %s: %s\n", qPrintable(path), qPrintable(error));
            return;
        }
        reads << msSince(timer);
        ZorDeviceDictModel model(doc);
        objects = model.rowCount();
        builds << msSince(timer);
        rows = showAll(model, QModelIndex());
        shows << msSince(timer);
    }
    const double read = median(reads);
    const double built = median(builds);
    const double shown = median(shows);
    std::printf("devicedict_%s_objects: %d count\n", qPrintable(name), objects);
    std::printf("devicedict_%s_rows: %d count\n", qPrintable(name), rows);
    std::printf("devicedict_%s_read_file: %.1f ms\n", qPrintable(name), read);
    std::printf("devicedict_%s_build_model: %.1f ms\n", qPrintable(name), built);
    std::printf("devicedict_%s_load: %.1f ms\n", qPrintable(name), read + built);
    std::printf("devicedict_%s_show_all: %.1f ms\n", qPrintable(name), shown);
}

}

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);

    // The largest of the sample descriptions.
    QString largest;
    qint64 largestSize = -1;
    for (const QFileInfo &info : QDir(deviceDescriptionDir()).entryInfoList({"*.xdd", "*.xdc"}, QDir::Files)) {
        if (info.size() > largestSize) {
            largestSize = info.size();
            largest = info.filePath();
        }
    }
    if (!largest.isEmpty())
        measure(QStringLiteral("largest_sample"), largest);

    QTemporaryDir dir;
    const QString generated = dir.filePath(QStringLiteral("generated.xdd"));
    QFile file(generated);
    if (!file.open(QIODevice::WriteOnly) || file.write(generatedXdd()) < 0)
        return 1;
    file.close();
    measure(QStringLiteral("generated_5000"), generated);

    // A file nested 10,000 levels (70 kB) is refused before a document is
    // built: building one takes time growing with the square of the depth.
    const QString deep = dir.filePath(QStringLiteral("deep.xdd"));
    QFile deepFile(deep);
    if (!deepFile.open(QIODevice::WriteOnly))
        return 1;
    deepFile.write(QByteArray("<a>").repeated(10000) + "<CANopenObjectList/>" + QByteArray("</a>").repeated(10000));
    deepFile.close();
    QElapsedTimer timer;
    timer.start();
    QDomDocument doc;
    QString error;
    const bool read = ZorDeviceDictModel::readDescriptionFile(deep, doc, &error);
    const double refusedMs = timer.nsecsElapsed() / 1e6;
    if (read) {
        std::fprintf(stderr, "the deep file was read\n");
        return 1;
    }
    std::printf("devicedict_deep_10000_refused: %.1f ms\n", refusedMs);
    return 0;
}
