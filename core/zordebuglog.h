// The program's diagnostic text log.
//
// A ZorDebugLog appends time-stamped lines to "zordebuglog_<tag>.txt" in the
// executable's folder. Any thread may write to it: module threads, driver
// threads and the GUI thread share one log. Control characters are made
// visible ("[CR]", "[LF]", "[XON]", "[XOFF]", "[ 9]", ...), so a line of
// protocol text stays readable. Every line is flushed at once, so the file is
// complete up to the last line even when the process dies.
//
// The open state, the file and the stream are only touched under the log's
// mutex: a write racing a close either lands before "log stopped" or is
// dropped, it never reaches a stream that is being deleted.
#pragma once

#include <QObject>
#include <QString>

#include <atomic>
#include <memory>
#include <mutex>

class QFile;
class QTextStream;
class ZorMessage;

class ZorDebugLog : public QObject
{
    Q_OBJECT
public:
    explicit ZorDebugLog(QObject *parent = nullptr);
    ~ZorDebugLog() override;

    bool isOpen() const { return m_open.load(); }
    // Path of the file the log writes (empty before the first open).
    QString fileName() const;

    // Path of the log file of a tag: the log folder followed by
    // "/zordebuglog_<tag>.txt".
    static QString filePathForTag(const QString &tag);
    // The folder of the log files: the executable's folder unless another
    // was set (test programs keep their logs in a temporary folder, not
    // beside the program in the build tree). Empty sets it back.
    static void setLogFolder(const QString &folder);
    static QString logFolder();
    // The text with control characters (and characters outside Latin-1,
    // which count as code 0) written as bracketed names or codes.
    static QString escape(const QString &text);

public slots:
    // Opens the file of the tag for appending (when not yet open) and writes
    // "log started". A file that cannot be opened leaves the log closed and
    // silent.
    void open(const QString &tag);
    // Writes "log stopped" and closes the file; nothing when not open.
    void close();
    // Writes a message in its text form with the origin (or recipient) in
    // front (ZorMessage::toString format 4).
    void msgLogger(const ZorMessage &msg);
    // Writes one escaped, time-stamped line; dropped while the log is closed.
    void write(const QString &text);

private:
    void writeLineLocked(const QString &escaped);

    // A standard mutex rather than QMutex: Qt's contended lock path is not
    // visible to ThreadSanitizer, which the threaded tests run under.
    mutable std::mutex m_mutex;
    std::unique_ptr<QFile> m_file;        // guarded by m_mutex
    std::unique_ptr<QTextStream> m_stream; // guarded by m_mutex
    QString m_fileName;                   // guarded by m_mutex
    // Written under m_mutex; read without it only by isOpen().
    std::atomic<bool> m_open{false};
};
