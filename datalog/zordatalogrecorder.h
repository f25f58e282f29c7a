// ZorDataLogRecorder: the recording file of a data-log module.
//
// Lines are collected as they come and written out by flush(), once per
// batch of samples, as Latin-1 with CR LF line ends, appended to the file.
// Every write is checked: a failed open, write or flush closes the file and
// gives the error text, so that a caller never believes it records while
// samples are lost.
#pragma once

#include <QByteArray>
#include <QFile>
#include <QString>

class ZorDataLogRecorder
{
public:
    ~ZorDataLogRecorder();

    // Opens the file for appending. A different file that is still open is
    // closed first; the same file stays open. False with the error text
    // when the file cannot be opened.
    bool open(const QString &path, QString &error);
    void close();
    bool isOpen() const { return m_file.isOpen(); }
    QString fileName() const { return m_file.fileName(); }

    // Queues one line (without line end) for the next flush.
    void addLine(const QString &line);
    // Writes the queued lines; false with the error text (and the file
    // closed, the queued lines dropped) when that fails.
    bool flush(QString &error);
    bool hasPendingLines() const { return !m_pending.isEmpty(); }

private:
    QFile m_file;
    QByteArray m_pending;
};
