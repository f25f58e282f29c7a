#include "zorupdatedialog.h"

#include "zorapplservices.h"

#include <QDialogButtonBox>
#include <QLabel>
#include <QVBoxLayout>

ZorUpdateDialog::ZorUpdateDialog(QWidget *parent)
    : QDialog(parent, Qt::Dialog | Qt::WindowCloseButtonHint)
{
    using ZorApplServices::appGlobal;
    setWindowTitle(tr("Check For Updates - %1").arg(appGlobal(QStringLiteral("UpdateUserPrefix"))));
    auto *layout = new QVBoxLayout(this);
    layout->addWidget(new QLabel(tr("Current application: %1 %2")
                                     .arg(appGlobal(QStringLiteral("AppTitle")),
                                          appGlobal(QStringLiteral("AppVersion"))),
                                 this));
    auto *buttons = new QDialogButtonBox(QDialogButtonBox::Close, this);
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
    layout->addWidget(buttons);
}

bool ZorUpdateDialog::isUpdateConfigured()
{
    using ZorApplServices::appGlobal;
    return !appGlobal(QStringLiteral("UpdateUserPrefix")).trimmed().isEmpty()
           && !appGlobal(QStringLiteral("UpdateUrl")).trimmed().isEmpty();
}
