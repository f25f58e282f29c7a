// The access key of the node states: some nodes unlock protected objects
// when a key is written to an object of theirs. "AccessKeyDefinitions" names,
// per key class, the object and a default key; "AccessKeySet" holds the class
// and key chosen, and after the write also "ok" or "error".
#include "zornodestates.h"

namespace ZorNodeStates {

void NodeRoot::sendAccessKey()
{
    const QString chosen = property(QStringLiteral("AccessKeySet"));
    if (chosen.isEmpty())
        return;
    Box &b = box();
    b.accessKeyClass = chosen.section(QLatin1Char(','), 0, 0).trimmed();
    b.accessKeyValue = chosen.section(QLatin1Char(','), 1, 1).trimmed();
    b.accessKeyAccepted = false;

    const QStringList definitions = property(QStringLiteral("AccessKeyDefinitions")).split(QLatin1Char('\n'));
    for (const QString &definition : definitions) {
        const QStringList fields = definition.split(QLatin1Char(','));
        if (fields.value(0).trimmed().compare(b.accessKeyClass, Qt::CaseInsensitive) != 0)
            continue;
        if (b.accessKeyValue.isEmpty())
            b.accessKeyValue = fields.value(4).trimmed();
        QString line = QStringLiteral("w,%1,%2,%3,%4 # Set Access Key %5 = %6")
                           .arg(fields.value(1), fields.value(2), fields.value(3), b.accessKeyValue,
                                b.accessKeyClass, b.accessKeyValue);
        buildObjectListInterview(b.accessKeyInterview, line, KM_OBJLIST_WRITE);
        sendToSlaves(b.accessKeyInterview, true);
    }
}

bool NodeRoot::handleAccessKeyAnswer(const ZorMessage &message)
{
    Box &b = box();
    if (b.accessKeyInterview.msgType() != KM_INTERVIEW || message != b.accessKeyInterview
        || message.isRequest() || message.msgState() == KS_WAITING)
        return false;
    b.accessKeyInterview = ZorMessage();
    b.accessKeyAccepted = message.msgState() == KS_ANSWER;
    const QString text = tr("Set Access Key %1,%2 ").arg(b.accessKeyClass, b.accessKeyValue)
        + (b.accessKeyAccepted ? tr("OK") : tr("Error"));
    setStatus(b.accessKeyAccepted ? StatusStarted : StatusListFailed);
    showResultText(text);
    setProperty(QStringLiteral("AccessKeySet"),
                b.accessKeyClass + QLatin1Char(',') + b.accessKeyValue + QLatin1Char(',')
                    + (b.accessKeyAccepted ? QStringLiteral("ok") : QStringLiteral("error")),
                true);
    return true;
}

} // namespace ZorNodeStates
