#include "zorgenerateruntimedialog.h"

#include "zorquestionbox.h"

#include <QCoreApplication>
#include <QDialogButtonBox>
#include <QDir>
#include <QLabel>
#include <QVBoxLayout>

ZorGenerateRuntimeDialog::ZorGenerateRuntimeDialog(QWidget *parent, QuorvaneProject *project)
    : QDialog(parent, Qt::Dialog | Qt::WindowCloseButtonHint)
    , m_project(project)
{
    setWindowTitle(tr("Generate Runtime"));
    auto *layout = new QVBoxLayout(this);
    layout->addWidget(new QLabel(tr("Runtime Configuration File / Runtime Mode"), this));
    layout->addWidget(new QLabel(runtimeResourceFiles().join(QLatin1Char('\n')), this));
    auto *buttons = new QDialogButtonBox(QDialogButtonBox::Cancel, this);
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
    layout->addWidget(buttons);
}

QStringList ZorGenerateRuntimeDialog::runtimeResourceFiles()
{
    return QDir(QCoreApplication::applicationDirPath())
        .entryList({QStringLiteral("runtime.*.rcc")}, QDir::Files, QDir::Name | QDir::IgnoreCase);
}

int ZorGenerateRuntimeDialog::execIfResourcesAvailable()
{
    if (!runtimeResourceFiles().isEmpty())
        return exec();
    ZorQuestionBox::Question box;
    box.icon = QMessageBox::Warning;
    box.title = tr("Generate Runtime Error");
    box.text = tr("Missing required resource files for runtime generation.\nPlease contact "
                  "technical support.");
    box.buttons = QMessageBox::Ok;
    box.defaultButton = QMessageBox::Ok;
    ZorQuestionBox::ask(parentWidget(), box);
    return 0;
}

bool ZorGenerateRuntimeDialog::isRuntimeTempPath(const QString &path)
{
    return path.contains(QLatin1String("QuorvaneTemp"), Qt::CaseInsensitive)
           && path.contains(QLatin1String("quorvane_runtime_temp_"), Qt::CaseInsensitive);
}
