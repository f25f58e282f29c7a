#include "zoroverlaylabel.h"

#include "ui_zoroverlaylabel.h"

#include <QDragEnterEvent>

ZorOverlayLabel::ZorOverlayLabel(QWidget *parent)
    : QWidget(parent)
    , ui(new Ui::ZorOverlayLabel)
{
    ui->setupUi(this);
    setPalette(QPalette(Qt::transparent));
    setAttribute(Qt::WA_TransparentForMouseEvents);
}

ZorOverlayLabel::~ZorOverlayLabel()
{
    delete ui;
}

void ZorOverlayLabel::setText(const QString &text)
{
    m_text = text;
    ui->label->setText(QStringLiteral("<html><head/><body><p><span style=\" font-size:%1pt;\">%2"
                                      "</span></p></body></html>")
                           .arg(m_fontSize)
                           .arg(text));
}

void ZorOverlayLabel::setHighlighted(bool on)
{
    ui->label->setStyleSheet(on ? QStringLiteral("padding: 10px; border: 2px dashed grey")
                                : QString());
}

void ZorOverlayLabel::fitToParent()
{
    if (QWidget *p = parentWidget())
        resize(p->geometry().width(), p->geometry().height());
}

void ZorOverlayLabel::dragEnterEvent(QDragEnterEvent *event)
{
    if (acceptDrops())
        event->acceptProposedAction();
}
