// The panel of an XY positioning module (type "xypos").
//
// The working area of the two axes is drawn as a square (scene coordinates 0
// to 100 on both axes, Y downward): a small circle marks the drives' actual
// position and a cross the target, which the user drags with the mouse or
// jogs with the cursor keys (a key held down grows the step by 1.3 per
// repeat, from 1/200 up to 1/20 of the range). Targets go to the module as
// "TargetX" / "TargetY"; the cross moves when the module reports them back.
// Enter, "+" and "-" prepare the CAN interface's send sequences 0, 1 and 2,
// Space or "*" raises the "power" parameter by 10 %, Delete or Backspace
// cancels; 500 ms after the last of these the prepared sequence is played.
// Escape stops the positioning. The module's own notices (why a drive did
// not take its target, an axis drive unlinked) show in a line below the
// values; the axis labels follow the module's, as the project relinks it.
#pragma once

#include "zorpanel.h"

class QGraphicsEllipseItem;
class QGraphicsScene;
class QLineEdit;
class QTimer;
class ZorTargetCross;

namespace Ui {
class ZorContentXYPosClass;
}

class ZorContentXYPos : public ZorPanel
{
    Q_OBJECT
public:
    explicit ZorContentXYPos(QWidget *parent = nullptr);
    ~ZorContentXYPos() override;

    bool setupZorPanel(const QPersistentModelIndex &index, ZorAbstractDomModel *model) override;

    // For views and tests: the scene and its two markers.
    QGraphicsScene *scene() const { return m_scene; }
    ZorTargetCross *targetCross() const { return m_cross; }
    QGraphicsEllipseItem *actualMarker() const { return m_marker; }
    double jogFactor() const { return m_jogFactor; }
    // The line of the module's notices.
    QString messageLine() const;

public slots:
    void processIn(const ZorMessage &msg) override;
    void on_pushButtonStart_clicked(bool checked);
    void on_pushButtonStop_clicked();
    void on_toolButtonLeft_clicked();
    void on_toolButtonUp_clicked();
    void on_toolButtonRight_clicked();
    void on_toolButtonDown_clicked();
    void on_toolButtonCmd1_clicked();
    void on_toolButtonCmd2_clicked();
    void on_toolButtonCmd3_clicked();
    void on_toolButtonCancel_clicked();
    void on_toolButtonParameter_clicked();

private slots:
    void newTargetPosition();
    void prepareCommand(int command);
    void releaseCommand();

private:
    enum Direction { Up = 0, Right = 1, Down = 2, Left = 3 };

    void buildScene();
    void showDriveStatus(int status, bool axisX);
    void showProperty(const QString &name, const QString &value);
    void setControlsActive(bool active);
    void updateGraphics(bool marker, bool cross);
    void setTarget(double x, double y);
    void jog(int direction);
    double rangeX() const;
    double rangeY() const;
    void send(int type, const QVariant &data = QVariant());

    Ui::ZorContentXYPosClass *ui;
    QGraphicsScene *m_scene = nullptr;
    ZorTargetCross *m_cross = nullptr;
    QGraphicsEllipseItem *m_marker = nullptr;
    QTimer *m_commandTimer = nullptr;

    QString m_driveLabelX, m_driveLabelY, m_interfaceLabel;
    double m_actualX = 0, m_actualY = 0;
    double m_targetX = 0, m_targetY = 0;
    int m_minX = 0, m_maxX = 0, m_minY = 0, m_maxY = 0;
    double m_jogFactor = 0;
    int m_lastJogDirection = -1;
    int m_preparedCommand = -1;
    int m_lastStatusX = -1, m_lastStatusY = -1;
};
