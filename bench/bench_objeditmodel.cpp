// An object table of 5,000 objects in the object edit model: parsing its
// XML (QDom's share, printed apart), loading it into the model (the model
// and every row's data-object id), building the read request of
// all rows, applying a 5,000-line answer, and exporting CSV and concise DCF.
// Then value-scaling formulas: the cost of a call (a value not seen before,
// and one shown again), the memory each distinct formula takes, and what a
// runaway formula costs before it is refused.
#include "scalingevaluator.h"
#include "valuescaling.h"
#include "zorobjeditmodel.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QRegularExpression>
#include <cstdio>
#include <memory>
#include <vector>

namespace {

const int Objects = 5000;

QString tableText()
{
    static const char *const types[] = {"5", "6", "7", "2", "3", "4"};
    QString text = QStringLiteral("<CANopenObjectList>\n");
    for (int i = 0; i < Objects; ++i) {
        text += QStringLiteral(" <CANopenObject index=\"%1\" subIndex=\"%2\" nodeId=\"1\" name=\"Object %3\" "
                               "objectType=\"7\" dataType=\"%4\" accessType=\"rw\" actualValue=\"%5\" "
                               "defaultValue=\"0\" zorUiFormat=\"updates:r1000; shape:dial\"/>\n")
                    .arg(0x2000 + i / 64, 4, 16, QLatin1Char('0'))
                    .arg(i % 64, 2, 16, QLatin1Char('0'))
                    .arg(i)
                    .arg(QLatin1String(types[i % 6]))
                    .arg(i % 2 ? QStringLiteral("0x%1").arg(i % 100, 2, 16, QLatin1Char('0'))
                               : QString::number(i % 100));
    }
    return text + QStringLiteral("</CANopenObjectList>\n");
}

// The node module's result lines for a read of every object.
QString answerText(const QString &request)
{
    QString answer;
    int n = 0;
    for (const QString &line : request.split(QLatin1Char('\n'))) {
        const QString body = line.section(QLatin1Char('#'), 0, 0).trimmed();
        if (body.count(QLatin1Char(',')) < 2)
            continue;
        answer += body.section(QLatin1Char(','), 0, 1) + QLatin1Char(',')
                  + QString::number(n++ % 120) + QLatin1String(" # ")
                  + line.section(QLatin1Char('#'), 1).trimmed() + QLatin1Char('\n');
    }
    return answer;
}

// Resident memory of this process in kB (Linux).
qint64 residentKb()
{
    QFile status(QStringLiteral("/proc/self/status"));
    if (!status.open(QIODevice::ReadOnly))
        return 0;
    const QRegularExpressionMatch m =
        QRegularExpression(QStringLiteral("VmRSS:\\s+(\\d+)")).match(QString::fromLatin1(status.readAll()));
    return m.hasMatch() ? m.captured(1).toLongLong() : 0;
}

void scalingFigures()
{
    ValueScaling formula(QStringLiteral("=x*0.5+10"));
    const int calls = 2000;
    QElapsedTimer timer;
    timer.start();
    double sum = 0;
    for (int i = 0; i < calls; ++i) {
        double y = 0;
        formula.scale(i, &y);
        sum += y;
    }
    const double newValueUs = timer.nsecsElapsed() / 1e3 / calls;
    timer.restart();
    for (int i = 0; i < calls; ++i) {
        double y = 0;
        formula.scale(i % 100, &y);
        sum += y;
    }
    const double keptValueUs = timer.nsecsElapsed() / 1e3 / calls;

    const int formulas = 2000;
    const qint64 before = residentKb();
    std::vector<std::unique_ptr<ValueScaling>> records;
    for (int i = 0; i < formulas; ++i) {
        records.push_back(std::make_unique<ValueScaling>(QStringLiteral("=x*%1+1").arg(i)));
        double y = 0;
        records.back()->scale(i, &y);
    }
    const double perFormulaKb = double(residentKb() - before) / formulas;

    timer.restart();
    ValueScaling runaway(QStringLiteral("=(function(){for(;;){}})()"));
    double y = 0;
    runaway.scale(1, &y);
    const double refusedMs = timer.nsecsElapsed() / 1e6;
    if (runaway.isValid() || sum <= 0) {
        std::fprintf(stderr, "the runaway formula was not refused\n");
        return;
    }
    std::printf("objedit_scaling_call_new_value: %.1f us\n", newValueUs);
    std::printf("objedit_scaling_call_kept_value: %.2f us\n", keptValueUs);
    std::printf("objedit_scaling_memory_per_formula: %.1f kB\n", perFormulaKb);
    std::printf("objedit_scaling_engines_for_2000_formulas: %d count\n",
                ScalingEvaluator::instance().engineCount());
    std::printf("objedit_scaling_runaway_refused: %.1f ms\n", refusedMs);
}

double msSince(QElapsedTimer &timer)
{
    const double ms = timer.nsecsElapsed() / 1e6;
    timer.restart();
    return ms;
}

}

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    // As read from a file or a project: bytes (QDom reads those several
    // times faster than the same text handed over as a QString).
    const QByteArray text = tableText().toUtf8();
    QElapsedTimer timer;
    timer.start();

    // The first parse of the run also pays for growing the process's heap
    // (page faults, slow on virtual machines); a program that runs has that
    // behind it. Both are printed.
    double coldParseMs = 0;
    {
        QDomDocument first;
        first.setContent(text);
        coldParseMs = msSince(timer);
    }
    timer.restart();
    QDomDocument doc;
    if (!doc.setContent(text)) {
        std::fprintf(stderr, "table text does not parse\n");
        return 1;
    }
    const double parseMs = msSince(timer);
    ZorObjEditModel model(doc, true);
    model.setLockedNodeId(QStringLiteral("1"));
    int ids = 0;
    for (int r = 0; r < model.rowCount(); ++r)
        ids += model.index(r, 0).data(ZorObjEditModel::DataObjectIdRole).toString().isEmpty() ? 0 : 1;
    const double loadMs = msSince(timer);

    const QString request = model.objectListRequest({}, KM_OBJLIST_READ, true);
    const double requestMs = msSince(timer);

    const QString answer = answerText(request);
    timer.restart();
    model.applyObjectListAnswer(answer, KM_OBJLIST_READ, false);
    const double answerMs = msSince(timer);

    const QString csv = model.toCsvText({});
    const double csvMs = msSince(timer);
    const QByteArray dcf = model.toBinaryObjectList({});
    const double dcfMs = msSince(timer);

    int ok = 0;
    for (int r = 0; r < model.rowCount(); ++r)
        ok += model.index(r, 0).data(ZorObjEditModel::StatusCodeRole).toInt() == 1 ? 1 : 0;
    if (ids != Objects || ok != Objects || csv.count(QLatin1Char('\n')) != Objects + 1 || dcf.size() < Objects * 8) {
        std::fprintf(stderr, "unexpected result: %d ids, %d rows read ok\n", ids, ok);
        return 1;
    }

    std::printf("objedit_xml_parse_first_5000: %.1f ms\n", coldParseMs);
    std::printf("objedit_xml_parse_5000: %.1f ms\n", parseMs);
    std::printf("objedit_load_5000: %.1f ms\n", loadMs);
    std::printf("objedit_read_request_5000: %.1f ms\n", requestMs);
    std::printf("objedit_apply_answer_5000: %.1f ms\n", answerMs);
    std::printf("objedit_csv_export_5000: %.1f ms\n", csvMs);
    std::printf("objedit_dcf_export_5000: %.1f ms\n", dcfMs);
    scalingFigures();
    return 0;
}
