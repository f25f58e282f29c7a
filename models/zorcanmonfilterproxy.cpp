#include "zorcanmonfilterproxy.h"

#include "zorbabelfish.h"

#include <QHash>
#include <limits>
#include <QMimeData>
#include <QStringList>

namespace {

// Source columns the terms look at: ID, Data, Dir, Description and beyond.
constexpr int FirstTermColumn = 2;
constexpr int IdColumn = 2;
constexpr int DataColumn = 3;
constexpr int SubindexColumn = 4;
// The first four data bytes as text: "40 00 10 00".
constexpr int AutoPatternLength = 11;

// A bound of a range: hexadecimal however it is written ("181", "181h" and
// "0x181" are the same number). Bounds beyond the signed range are clamped:
// no identifier, index or subindex comes near them.
bool hexNumber(QString text, qint32 &value)
{
    if (!text.startsWith(QLatin1String("0x")) && !text.endsWith(QLatin1Char('h')))
        text += QLatin1Char('h');
    bool ok = false;
    const quint32 number = ZorBabelFish::stringToULong(text, &ok);
    value = qint32(qMin<quint32>(number, quint32(std::numeric_limits<qint32>::max())));
    return ok;
}

} // namespace

ZorCanMonFilterProxy::ZorCanMonFilterProxy(QObject *parent)
    : QSortFilterProxyModel(parent)
{
}

// --- the filter language

void ZorCanMonFilterProxy::setFilter(const QString &text)
{
    const QString normalised = text.toLower().trimmed();
    if (m_active && normalised == m_filterText) {
        m_filterError.clear();
        return;
    }
    bool excludeMode = false;
    QVector<FilterTerm> terms;
    if (!parseFilter(normalised, excludeMode, terms, &m_filterError))
        return;
    m_filterText = normalised;
    m_excludeMode = excludeMode;
    m_terms = terms;
    if (m_active)
        invalidateFilter();
}

bool ZorCanMonFilterProxy::checkFilter(const QString &text, QString *errorText) const
{
    bool excludeMode = false;
    QVector<FilterTerm> terms;
    return parseFilter(text.toLower().trimmed(), excludeMode, terms, errorText);
}

bool ZorCanMonFilterProxy::parseFilter(const QString &filterText, bool &excludeMode,
                                       QVector<FilterTerm> &terms, QString *errorText) const
{
    const auto refuse = [errorText](const QString &term, const QString &reason) {
        if (errorText)
            *errorText = tr("Filter term \"%1\": %2").arg(term, reason);
        return false;
    };
    if (errorText)
        errorText->clear();

    QString work = filterText.section(QLatin1Char('#'), 0, 0);
    work = work.section(QLatin1Char(';'), 0, 0);
    excludeMode = false;
    if (work.startsWith(QLatin1String("auto"))) {
        excludeMode = true;
        work.remove(0, 4);
    } else if (work.startsWith(QLatin1String("exclude"))) {
        excludeMode = true;
        work.remove(0, 7);
    }

    const QStringList parts = work.split(QLatin1Char(','), Qt::SkipEmptyParts);
    for (const QString &part : parts) {
        const QString termText = part.trimmed();
        if (termText.isEmpty())
            continue;
        const int eq = termText.indexOf(QLatin1Char('='));
        if (eq < 0) {
            // A bare regular expression, tried on every term column.
            const QRegExp pattern(termText);
            if (!pattern.isValid())
                return refuse(termText, tr("not a valid regular expression (%1).")
                                            .arg(pattern.errorString()));
            const int columns = sourceModel() ? sourceModel()->columnCount() : 0;
            for (int column = FirstTermColumn; column < columns; ++column) {
                FilterTerm term;
                term.column = column;
                term.pattern = pattern;
                terms.append(term);
            }
            continue;
        }

        FilterTerm term;
        QString key = termText.left(eq).trimmed();
        const QString value = termText.mid(eq + 1).trimmed();
        if (key.endsWith(QLatin1Char('!'))) {
            term.negated = true;
            key.chop(1);
            key = key.trimmed();
        }

        if (key == QLatin1String("id") || key == QLatin1String("index")
            || key == QLatin1String("subindex")) {
            term.numeric = true;
            term.column = key == QLatin1String("id")      ? IdColumn
                          : key == QLatin1String("index") ? DataColumn
                                                          : SubindexColumn;
            const QStringList bounds = value.split(QLatin1Char('-'));
            const QString lowText = bounds.value(0).trimmed();
            const QString highText = bounds.value(1).trimmed();
            if (lowText.isEmpty())
                return refuse(termText, tr("no number given."));
            if (bounds.size() > 2)
                return refuse(termText, tr("a range has two bounds, \"low-high\"."));
            if (!hexNumber(lowText, term.low))
                return refuse(termText, tr("\"%1\" is not a hexadecimal number.").arg(lowText));
            term.high = term.low;
            if (!highText.isEmpty() && !hexNumber(highText, term.high))
                return refuse(termText, tr("\"%1\" is not a hexadecimal number.").arg(highText));
            if (term.low > term.high)
                return refuse(termText, tr("the range is empty (its low bound is above its high bound)."));
        } else {
            term.column = columnOfKey(key);
            if (term.column < 0)
                continue;
            term.pattern = QRegExp(value, Qt::CaseInsensitive, QRegExp::Wildcard);
            if (!term.pattern.isValid())
                return refuse(termText, tr("not a valid pattern (%1).").arg(term.pattern.errorString()));
        }
        terms.append(term);
    }
    return true;
}

int ZorCanMonFilterProxy::columnOfKey(const QString &key) const
{
    if (!sourceModel())
        return -1;
    const int columns = sourceModel()->columnCount();
    for (int column = FirstTermColumn; column < columns; ++column) {
        const QString header =
            sourceModel()->headerData(column, Qt::Horizontal, Qt::DisplayRole).toString();
        if (header.toLower().contains(key))
            return column;
    }
    return -1;
}

void ZorCanMonFilterProxy::setActive(bool on)
{
    if (on == m_active)
        return;
    m_active = on;
    invalidateFilter();
}

bool ZorCanMonFilterProxy::termMatches(const FilterTerm &term, int sourceRow,
                                       const QModelIndex &sourceParent) const
{
    const QModelIndex cell = sourceModel()->index(sourceRow, term.column, sourceParent);
    if (term.numeric) {
        const qint32 value = qint32(cell.data(Qt::UserRole).toLongLong());
        return value >= term.low && value <= term.high;
    }
    return term.pattern.exactMatch(cell.data(Qt::DisplayRole).toString());
}

bool ZorCanMonFilterProxy::rowMatches(int sourceRow, const QModelIndex &sourceParent) const
{
    if (!sourceModel())
        return false;
    bool hit = false;
    for (const FilterTerm &term : m_terms) {
        if (termMatches(term, sourceRow, sourceParent) != term.negated) {
            hit = true;
            break;
        }
    }
    return m_excludeMode ? !hit : hit;
}

bool ZorCanMonFilterProxy::filterAcceptsRow(int sourceRow, const QModelIndex &sourceParent) const
{
    return !m_active || rowMatches(sourceRow, sourceParent);
}

// --- find

bool ZorCanMonFilterProxy::findNext(QModelIndex &current, const QString &text)
{
    // A text that does not read finds nothing and leaves the filter alone.
    if (!checkFilter(text, &m_filterError) || !sourceModel() || rowCount() < 1)
        return false;
    QModelIndex start = mapToSource(current);
    if (!start.isValid())
        start = sourceModel()->index(0, 0);
    const QPersistentModelIndex remembered(start);

    setActive(false);
    setFilter(text);

    current = mapFromSource(remembered);
    const int rows = rowCount();
    const int startRow = current.isValid() ? current.row() : 0;
    for (int step = 1; step <= rows; ++step) {
        const int row = (startRow + step) % rows;
        current = index(row, 0);
        if (rowMatches(mapToSource(current).row(), QModelIndex())) {
            current = index(row, DataColumn);
            return true;
        }
    }
    return false;
}

// --- automatic exclusion

void ZorCanMonFilterProxy::autoFilter()
{
    m_filterText.replace(QLatin1Char(';'), QLatin1Char('#'));
    const int hash = m_filterText.indexOf(QLatin1Char('#'));
    const QString filterPart = (hash < 0 ? m_filterText : m_filterText.left(hash)).trimmed();
    const QString comment = hash < 0 ? QString() : m_filterText.mid(hash + 1).trimmed();

    QStringList autoTerms;
    if (filterPart.startsWith(QLatin1String("auto "))) {
        const QStringList parts = filterPart.mid(5).split(QLatin1Char(','), Qt::SkipEmptyParts);
        for (const QString &part : parts)
            autoTerms.append(part.trimmed());
    }

    QAbstractItemModel *source = sourceModel();
    if (!source)
        return;
    const QString key =
        source->headerData(DataColumn, Qt::Horizontal, Qt::DisplayRole).toString().toLower();

    // Counted in the order first met, so that the earliest of equally
    // frequent patterns wins.
    QHash<QString, int> counts;
    QStringList order;
    const int rows = source->rowCount();
    for (int row = 0; row < rows; ++row) {
        const QString data = source->index(row, DataColumn).data().toString();
        // Up to four bytes the pattern is the whole data text: "05 *" would
        // not match a one-byte heartbeat "05".
        const QString candidate = data.size() <= AutoPatternLength
                                      ? QStringLiteral("%1 = %2").arg(key, data)
                                      : QStringLiteral("%1 = %2 *").arg(key, data.left(AutoPatternLength));
        if (autoTerms.contains(candidate))
            continue;
        int &count = counts[candidate];
        if (count++ == 0)
            order.append(candidate);
    }
    if (order.isEmpty())
        return;
    QString best;
    int bestCount = 0;
    for (const QString &candidate : qAsConst(order)) {
        const int count = counts.value(candidate);
        if (count > bestCount) {
            best = candidate;
            bestCount = count;
        }
    }

    QString newText;
    if (autoTerms.isEmpty()) {
        newText = QStringLiteral("auto ") + best;
    } else {
        newText = (hash < 0 ? m_filterText : m_filterText.left(hash)) + QStringLiteral(" , ") + best;
        if (!comment.isEmpty())
            newText += QStringLiteral(" ;") + comment;
    }
    setFilter(newText);
    setActive(true);
}

// --- clipboard and drops

QStringList ZorCanMonFilterProxy::mimeTypes() const
{
    return QStringList(QStringLiteral("text/plain"));
}

Qt::DropActions ZorCanMonFilterProxy::supportedDropActions() const
{
    return Qt::CopyAction;
}

QMimeData *ZorCanMonFilterProxy::mimeData(const QModelIndexList &indexes) const
{
    int first = 0;
    int last = rowCount() - 1;
    if (!indexes.isEmpty() && indexes.first().isValid()) {
        first = last = indexes.first().row();
        for (const QModelIndex &index : indexes) {
            if (!index.isValid())
                continue;
            first = qMin(first, index.row());
            last = qMax(last, index.row());
        }
    }

    const int columns = columnCount();
    auto appendLine = [columns](QString &text, const auto &cellText) {
        for (int column = 0; column < columns; ++column) {
            text += cellText(column);
            text += column + 1 < columns ? QLatin1Char('\t') : QLatin1Char('\n');
        }
    };
    QString text;
    appendLine(text, [this](int column) {
        return headerData(column, Qt::Horizontal, Qt::DisplayRole).toString();
    });
    for (int row = first; row <= last; ++row)
        appendLine(text, [this, row](int column) { return index(row, column).data().toString(); });

    auto *mime = new QMimeData;
    mime->setText(text);
    return mime;
}

bool ZorCanMonFilterProxy::dropMimeData(const QMimeData *data, Qt::DropAction action, int row,
                                        int column, const QModelIndex &parent)
{
    Q_UNUSED(row);
    Q_UNUSED(column);
    Q_UNUSED(parent);
    if (!sourceModel())
        return false;
    return sourceModel()->dropMimeData(data, action, 0, 0, QModelIndex());
}
