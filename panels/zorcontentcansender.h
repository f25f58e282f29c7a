// ZorContentCanSender: edits, stores and plays the ten send sequences of a
// CAN interface module.
//
// Each sequence has a name ("SendSeqName0".."9") and a text
// ("SendSequence0".."9"), both module properties; the panel never parses a
// sequence, the module's player does. The box above the editor lists the
// sequences as "01: name" .. "10: name" and edits the names in place; the
// editor holds the text of the chosen sequence and stores it back (commit)
// before every play, before another sequence is chosen and when the panel
// closes. Play (F5) opens the interface and plays the chosen sequence; Stop
// (Esc), Pause, Skip and Back drive the player. While the module plays, the
// line it is on is highlighted and the editor is locked.
#pragma once

#include "zorpanel.h"

class QAction;
class QComboBox;
class QFrame;
class QGridLayout;
class QPlainTextEdit;
class QToolBar;

class ZorContentCanSender : public ZorPanel
{
    Q_OBJECT
public:
    static constexpr int SequenceCount = 10;

    explicit ZorContentCanSender(QWidget *parent = nullptr);
    ~ZorContentCanSender() override;

    bool setupZorPanel(const QPersistentModelIndex &index, ZorAbstractDomModel *model) override;
    QString commitPanelSettings() override;

    bool isModified() const { return m_modified; }
    int currentSequence() const { return m_currentSequence; }

public slots:
    void processIn(const ZorMessage &msg) override;

    void on_actionPlay_triggered();
    void on_actionStop_triggered();
    void on_actionPause_triggered();
    void on_actionSkip_triggered();
    void on_actionBack_triggered();
    void on_comboBoxSeq_currentIndexChanged(int index);
    void on_comboBoxSeq_editTextChanged(const QString &text);
    void on_plainTextEditSeq_textChanged();

private slots:
    // F5: the same as clicking Play, while Play can be clicked.
    void playShortcut();

private:
    void buildForm();
    void send(int type, const QVariant &data = QVariant());
    void highlightLine(int line);
    static QString itemPrefix(int index);

    QGridLayout *m_gridLayout;
    QFrame *m_frameToolbarContainer;
    QToolBar *m_toolBar;
    QAction *m_actionPlay;
    QAction *m_actionStop;
    QAction *m_actionPause;
    QAction *m_actionSkip;
    QAction *m_actionBack;
    QComboBox *m_comboBoxSeq;
    QPlainTextEdit *m_plainTextEditSeq;

    bool m_modified = false;
    int m_currentSequence = 0;
};
