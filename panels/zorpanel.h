// The base of every panel: the widget the main window shows for one module of
// the project.
//
// A panel lives in the GUI thread and talks to its module only through
// ZorMessage values: it sends on msgOut (always through sendGuiMsg, which
// marks the message as coming from the "GUI") and receives on msgIn. The
// project binds the panel to the module's element in the project model
// (setupZorPanel) and wires the two ports to the module; on binding the panel
// asks its module for its info text and its status.
//
// The base also
//  - binds ordinary widgets to module properties (registerLineEdit and
//    friends): the module's answers and change notices show up in every widget
//    bound to the property before processIn sees the message, and a finished
//    edit sends a KM_SETPROPERTY request;
//  - stores named XML documents and the "panelVisible" and "dragDropMode"
//    attributes under the module element;
//  - turns clicked links of its text browsers into messages (anchors
//    "app:...", "KM_..." and "python:..."); a link of a page stored in the
//    project that would start a program or run Python asks the user first;
//  - keeps time-stamped log views scrolled to their end, with every line
//    cut to a length the view lays out at once and the oldest lines dropped
//    past a number of characters, so that no peer's text (a 1 MB message,
//    a flood of them) can freeze the window or fill the memory;
//  - gives derived panels keyboard shortcuts and turns drops into
//    KM_DROP_DATA requests.
//
// Module status numbers are shown with statusStyleSheet(): 0 idle (black
// text), other numbers below 1000 running (green), 1000 to 1999 busy
// (yellow), 2000 and above error (red).
#pragma once

#include "zorabstractdommodel.h"
#include "zormessage.h"

#include <QDomDocument>
#include <QKeySequence>
#include <QList>
#include <QMap>
#include <QMultiMap>
#include <QPair>
#include <QPersistentModelIndex>
#include <QPointer>
#include <QString>
#include <QStringList>
#include <QUrl>
#include <QWidget>

class QAbstractSlider;
class QCheckBox;
class QComboBox;
class QLabel;
class QLineEdit;
class QPlainTextEdit;
class QShortcut;
class QSignalMapper;
class QTextEdit;
class QTimer;

class ZorPanel : public QWidget
{
    Q_OBJECT
public:
    explicit ZorPanel(QWidget *parent = nullptr);
    ~ZorPanel() override;

    // --- binding and naming (virtual, in this order)
    // Stores index and model, then asks the module for KM_INFOTEXT and
    // KM_STATUS. False, sending nothing, when the index names no element
    // (index and model are stored all the same). Derived panels call this
    // first.
    virtual bool setupZorPanel(const QPersistentModelIndex &index, ZorAbstractDomModel *model);
    // Pushes pending settings to the module; returns an objection to saving
    // the project, empty when all is well. The base objects to nothing.
    virtual QString commitPanelSettings();
    // True: the project wires the panel to its module's slave side (the
    // panel talks to the module like its master). A panel that wants to see
    // what the module sends to its slaves returns false and is wired to
    // masterIn/masterOut.
    virtual bool usesSlavePort();
    // Label, type key and description of the bound element; empty unbound.
    virtual QString panelName();
    virtual QString panelUserData();
    virtual QString panelItemText37();

    ZorAbstractDomModel *projectModel() const { return m_model.data(); }
    QPersistentModelIndex boundIndex() const { return m_index; }
    bool isBound() const;
    int userLevel() const { return m_userLevel; }
    int guiMode() const { return m_guiMode; }

    // Style sheet for a module status number (see above).
    static QString statusStyleSheet(int status);

    // --- panel state in the project element (false/null/empty unbound)
    bool savePanelVisibility();
    // savePanelVisibility, then commitPanelSettings' objection; empty when
    // unbound. The project calls it before saving, derived panels in their
    // destructors.
    QString savePanelState();
    bool setDragDropMode(int mode);

    // --- panel documents below the element's "docs" child
    // Replaces the document `name` by `doc`; an empty `doc` only removes it.
    bool saveDoc(const QDomDocument &doc, const QString &name);
    // The stored document `name` (a null document when unbound or absent; an
    // empty, non-null one when the stored element has no child element).
    QDomDocument loadDoc(const QString &name) const;
    // Shows the stored document as HTML with %%KEY%% application globals
    // expanded, and marks `edit` as showing a project page: its links that
    // start programs, run Python or open local files ask the user first.
    bool loadDocToTextEdit(QTextEdit *edit, const QString &name);
    // Marks a text view as showing a page that came with the project.
    static void markAsProjectPage(QObject *view, bool projectPage = true);
    static bool isProjectPage(const QObject *view);

    // --- project queries: every "module" element below the bound element
    QStringList moduleLabels() const;
    QList<QPair<QString, QString>> moduleLabelsAndTypes() const;

    // --- links
    // What a clicked link sends, or an invalid (KM_UNDEFINED) message when it
    // sends nothing. A "python:" script file is sent by its absolute path,
    // when it can be read and is not empty.
    static ZorMessage messageForAnchor(const QUrl &url);
    // True for a request that starts a program ("startprocess") or runs
    // Python (a KM_SCRIPT_CONTROL start).
    static bool startsProgramOrScript(const ZorMessage &msg);
    // True for an "openurl" request whose URL is a local file (scheme
    // "file", or none): the desktop would open or even run it.
    static bool opensLocalFile(const ZorMessage &msg);
    // Sends what the link asks for; with `fromProjectPage` a program start,
    // a Python run or the opening of a local file is sent only when the user
    // agrees. Returns whether a message was sent.
    bool handleAnchor(const QUrl &url, bool fromProjectPage);

    // --- log views
    // Longest line a log view shows; the rest of a longer one is replaced
    // by a mark that says how much was left out.
    static const int MaxLogLineChars = 4096;
    // Characters a log view keeps; past them the oldest lines are dropped.
    static const int MaxLogViewChars = 2000000;
    // The text with every line longer than MaxLogLineChars cut (and marked).
    static QString cutLogLines(const QString &text);
    void appendLogText(QPlainTextEdit *view, const QString &text, bool withTime);
    void scrollToEndLater(QPlainTextEdit *view);

    // --- shortcuts, active while the focus is in the panel or a child
    QShortcut *addShortcut(const QKeySequence &key, const char *slot);

    // --- property binding
    // Each binds `widget` to the module property `name`: answers and notices
    // of the property are shown in it, and (with `notify`) a finished edit
    // sends "name=value". `decimals` above 0 shows and sends numbers in fixed
    // notation with that many decimals. Each asks the module for the current
    // value.
    void registerLineEdit(const QString &name, QLineEdit *edit, int decimals = 0,
                          bool notify = true);
    void registerSlider(const QString &name, QAbstractSlider *slider, int decimals = 0,
                        bool notify = true);
    void registerComboBox(const QString &name, QComboBox *box, bool notify = true);
    void registerLabel(const QString &name, QLabel *label, int decimals = 0);
    // A check box shows a property that reads as a flag: checked for a
    // non-zero number or "true" (any case), and sends "1" or "0".
    void registerCheckBox(const QString &name, QCheckBox *box, bool notify = true);

    // The last value the module reported for a property (formatted).
    QString lastPropertyValue(const QString &name) const { return m_lastValues.value(name); }

signals:
    void msgOut(const ZorMessage &msg);

public slots:
    // Applies property answers and notices to the bound widgets, then hands
    // every message to processIn.
    void msgIn(const ZorMessage &msg);
    // The one path out: a copy with the origin "GUI" goes out on msgOut.
    void sendGuiMsg(const ZorMessage &msg);
    virtual void setGuiMode(int mode);
    virtual void setUserLevel(int level);
    // Slot for text browsers' anchorClicked(QUrl). A link from a view marked
    // as project page asks before starting programs or running Python.
    void processAnchorClicked(const QUrl &url);

public:
    // Every message that reaches the panel (after the property step).
    virtual void processIn(const ZorMessage &msg);

protected slots:
    void propertyNewValue(const QString &name, const QString &value);
    void propertyEdited(const QString &name);

protected:
    void dropEvent(QDropEvent *event) override;
    // Notes the module status the panel is to show: true when it differs
    // from the one noted before (always for the first), false when the panel
    // shows it already.
    bool noteStatus(int status);
    // The part of msgIn that feeds property answers to the bound widgets.
    void applyPropertyMessage(const ZorMessage &msg);
    // The file dialogs of the panels that open and save files; tests
    // replace them.
    virtual QString askOpenFileName(const QString &title, const QString &start, const QString &filter);
    virtual QString askSaveFileName(const QString &title, const QString &start, const QString &filter);

private slots:
    void doTheScrollToEnd();

private:
    void bindNotifier(QObject *widget, const QString &name, const char *signal);
    void requestProperty(const QString &name);
    QDomElement boundElement() const;
    void noteDocumentEdited();
    bool setElementAttribute(const QString &attribute, const QString &value);

    QPointer<ZorAbstractDomModel> m_model;
    QPersistentModelIndex m_index;
    int m_userLevel = 0;
    int m_guiMode = 0;
    bool m_hasStatus = false;
    int m_lastStatus = 0;

    QMultiMap<QString, QPointer<QLineEdit>> m_lineEdits;
    QMultiMap<QString, QPointer<QAbstractSlider>> m_sliders;
    QMultiMap<QString, QPointer<QLabel>> m_labels;
    QMultiMap<QString, QPointer<QComboBox>> m_comboBoxes;
    QMultiMap<QString, QPointer<QCheckBox>> m_checkBoxes;
    QMap<QString, QString> m_lastValues;
    QMap<QString, int> m_decimals;

    QSignalMapper *m_propertyMapper;
    QTimer *m_scrollTimer;
    QList<QPointer<QPlainTextEdit>> m_pendingScroll;
};
