// ZorCanMonFilterProxy: the filter between the CAN monitor table
// (ZorMonitorTableModel) and the monitor's view.
//
// The filter language (the text is lower-cased and trimmed first):
//
//   id=181, id = 0x181, id=181h      identifier 181h (numbers are hex however
//                                    they are written)
//   id=100-1ff, index=6041           ranges on the identifier, the SDO index
//                                    (data bytes 1-2) and subindex (byte 3)
//   id!=181                          a negated term
//   data=40 41 60*, dir=tx           wildcard on the first column whose header
//                                    contains the key (any case)
//   181h                             a bare regular expression, matched
//                                    (case-sensitively) against ID, Data, Dir
//                                    and Description as whole texts
//   exclude id=700-7ff               hide what matches instead of showing it;
//                                    "auto" is the same, used by autoFilter()
//   ... # comment, ... ; comment     ignored
//
// Terms are separated by commas; in include mode a row shows when any term
// hits, in exclude mode when none does. While the filter is inactive every
// row shows; the text and terms stay until the next setFilter. A text with a
// malformed term (a number that does not read, a range without bounds or
// running backwards, a regular expression that does not compile) is refused
// as a whole: the filter stays as it was and filterError() names the term.
//
// The proxy also finds the next matching row (findNext), derives an exclusion
// of the most frequent data pattern (autoFilter), gives the clipboard text
// (tab-separated, header line first) and passes drops to the table's import.
// GUI thread only.
#pragma once

#include <QRegExp>
#include <QSortFilterProxyModel>
#include <QString>
#include <QVector>

class ZorCanMonFilterProxy : public QSortFilterProxyModel
{
    Q_OBJECT
public:
    struct FilterTerm
    {
        int column = 0;
        QRegExp pattern;
        bool negated = false;
        bool numeric = false;
        qint32 low = 0;
        qint32 high = 0;
    };

    explicit ZorCanMonFilterProxy(QObject *parent = nullptr);

    // The last filter text given, lower-cased and trimmed, comments included.
    QString filterText() const { return m_filterText; }
    bool isActive() const { return m_active; }
    bool excludeMode() const { return m_excludeMode; }
    QVector<FilterTerm> terms() const { return m_terms; }

    // Why the last setFilter or findNext refused its text ("Filter term
    // \"id=18g\": ..."); empty when it was taken.
    QString filterError() const { return m_filterError; }
    // Whether `text` reads as a filter; when not, `errorText` names the
    // first malformed term. Changes nothing.
    bool checkFilter(const QString &text, QString *errorText = nullptr) const;

    // Looks for the next row after `current` (a proxy index; the first row
    // when invalid), wrapping round, that the filter `text` accepts. The
    // filter is switched off for this and keeps `text` as its text. On
    // success `current` is the Data cell of that row. A text that
    // checkFilter refuses finds nothing and changes nothing.
    bool findNext(QModelIndex &current, const QString &text);

    // Whether the terms accept a row of the source model, active or not.
    bool rowMatches(int sourceRow, const QModelIndex &sourceParent) const;

    QStringList mimeTypes() const override;
    Qt::DropActions supportedDropActions() const override;
    // Tab-separated text of the rows from the lowest to the highest of
    // `indexes` (all rows when there are none), after a header line.
    QMimeData *mimeData(const QModelIndexList &indexes) const override;
    // Handed to the source model, appended at its bottom.
    bool dropMimeData(const QMimeData *data, Qt::DropAction action, int row, int column,
                      const QModelIndex &parent) override;

public slots:
    void setFilter(const QString &text);
    void setActive(bool on);
    // Adds an exclusion term ("auto data = 00 00 00 00 *") for the data
    // pattern that occurs most often in the table and is not excluded yet,
    // and activates the filter.
    void autoFilter();

protected:
    bool filterAcceptsRow(int sourceRow, const QModelIndex &sourceParent) const override;

private:
    bool parseFilter(const QString &filterText, bool &excludeMode, QVector<FilterTerm> &terms,
                     QString *errorText) const;
    bool termMatches(const FilterTerm &term, int sourceRow, const QModelIndex &sourceParent) const;
    int columnOfKey(const QString &key) const;

    QString m_filterText;
    QString m_filterError;
    bool m_excludeMode = false;
    bool m_active = false;
    QVector<FilterTerm> m_terms;
};
