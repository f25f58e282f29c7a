// The panel of a CAN interface module (types "canusb" and "kelvatro").
//
// The user picks the adapter port and the bit rate and starts and stops the
// interface; the panel shows the module's state on the start button, the
// traffic on three lamps ("TX", "RX", "ERR") and the module's info texts in a
// time-stamped log. Port and bit rate are module properties ("Port",
// "Baudrate") bound to the two combo boxes: choosing an entry sends it to
// the module at once, and the module opens with what its properties hold, so
// KM_COMM_OPEN carries no data. A stored bit rate is shown by its value, in
// whatever form it was written ("500000", "500K", "500k"); a rate the list
// lacks is added to it, and showing a rate never writes it back. A bit-rate scan is asked for by choosing
// "(Scan)" before starting. A "kelvatro" interface has a fixed port and bit
// rate: the two choices are hidden.
//
// The module's status drives the button: 0 means closed ("Start Interface",
// choices unlocked, Stop disabled); any other status means open, opening,
// scanning, updating or failed (button checked, choices locked, Stop
// enabled). Esc stops the interface while the focus is in the panel. A
// KM_COMM_STATUS report lights its lamps for 230 ms.
#pragma once

#include "zorpanel.h"

#include <QColor>

class QComboBox;
class QTimer;

namespace Ui {
class ZorContentCanInterfaceClass;
}

class ZorContentCanInterface : public ZorPanel
{
    Q_OBJECT
public:
    // Activity bits of KM_COMM_STATUS that have a lamp.
    enum Lamp { LampTx = 0x01, LampRx = 0x02, LampErr = 0x04 };

    explicit ZorContentCanInterface(QWidget *parent = nullptr);
    ~ZorContentCanInterface() override;

    bool setupZorPanel(const QPersistentModelIndex &index, ZorAbstractDomModel *model) override;

    // The port entries offered at start: "(first found)", then the
    // interface kinds of the CAN interface module, the network gateway as
    // an address to edit.
    static QStringList portChoices();
    static QStringList bitRateChoices();
    // The entry of `box` that stands for the stored "Baudrate" text: the
    // same text, else the same rate in bit/s, else "(Scan)" for any text
    // that asks for a scan; -1 when none does.
    static int bitRateEntry(const QComboBox *box, const QString &rateText);

    // Button text and colour for a module status number.
    static QString stateText(int status);
    static QColor stateColour(int status);

    void setState(int status);
    void setLEDs(int flags);
    int lampFlags() const { return m_lampFlags; }

public slots:
    void processIn(const ZorMessage &msg) override;
    void switchOnOff(bool on);
    void switchOff();
    void resetLEDs();
    void portComboEditingFinished();

private slots:
    // Esc: Stop, while the focus is in the panel.
    void stopByKey();
    void bitRateChosen();

private:
    // Selects (adding it when the list lacks it) the entry of a "Baudrate"
    // value reported by the module, without sending anything back.
    void showBitRate(const QString &rateText);

    Ui::ZorContentCanInterfaceClass *ui;
    int m_lampFlags = 0;
    QTimer *m_lampTimer;
    bool m_showingRate = false;
};
