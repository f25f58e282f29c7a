// Points the home folder (and with it the documents folder, where the
// program keeps its projects folder) and the system temporary folder of the
// process at private folders for as long as the object lives, so that tests
// never write into the real user's folders and can see every temporary
// folder the program leaves behind. Create one in initTestCase, before any
// main window or project, and keep it for the test class.
#pragma once

#include <QByteArray>
#include <QString>
#include <QTemporaryDir>

namespace ZorTest {

class TempHome
{
public:
    TempHome();
    ~TempHome();
    TempHome(const TempHome &) = delete;
    TempHome &operator=(const TempHome &) = delete;

    bool isValid() const { return m_dir.isValid(); }
    QString homePath() const { return m_dir.filePath(QStringLiteral("home")); }
    // What QDir::tempPath() gives while the object lives.
    QString tempPath() const { return m_dir.filePath(QStringLiteral("tmp")); }

private:
    struct Saved
    {
        const char *name;
        bool set;
        QByteArray value;
    };
    QTemporaryDir m_dir;
    QList<Saved> m_saved;
};

}
