#include "zorcontentproject.h"
#include "ui_zorcontentproject.h"

ZorContentProject::ZorContentProject(QWidget *parent)
    : ZorPanel(parent)
    , ui(new Ui::ZorContentProjectClass)
{
    ui->setupUi(this);
}

ZorContentProject::~ZorContentProject()
{
    savePanelState();
    delete ui;
}

bool ZorContentProject::setupZorPanel(const QPersistentModelIndex &index,
                                      ZorAbstractDomModel *model)
{
    const bool bound = ZorPanel::setupZorPanel(index, model);
    loadDocToTextEdit(ui->textBrowser, QStringLiteral("default"));
    ui->lineEditDocVer->setBackgroundRole(QPalette::Button);
    connect(ui->textBrowser, &QTextBrowser::anchorClicked, this, &ZorPanel::processAnchorClicked,
            Qt::QueuedConnection);
    showDocumentInfo();
    return bound;
}

QString ZorContentProject::commitPanelSettings()
{
    showDocumentInfo();
    return QString();
}

void ZorContentProject::processIn(const ZorMessage &msg)
{
    Q_UNUSED(msg);
}

QString ZorContentProject::projectValue(const ZorAbstractDomModel *model, const QString &key)
{
    if (!model)
        return QString();
    const QDomElement root = model->document().elementsByTagName(QStringLiteral("QuorvaneProject"))
                                 .item(0)
                                 .toElement();
    const QDomNode first = root.firstChildElement(key).firstChild();
    return first.isText() ? first.nodeValue() : QString();
}

QString ZorContentProject::documentInfoText(const QString &projectInfo)
{
    if (projectInfo.section(QLatin1Char(','), 0, 0) == QLatin1String("noupdate"))
        return projectInfo.section(QLatin1Char(','), 1, 1);
    return projectInfo;
}

void ZorContentProject::showDocumentInfo()
{
    ui->lineEditDocVer->setText(documentInfoText(projectValue(projectModel(), QStringLiteral("projectinfo"))));
    ui->lineEditDocVer->setCursorPosition(0);
}
