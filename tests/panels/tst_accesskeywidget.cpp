#include "recordingpanel.h"
#include "zoraccesskeywidget.h"
#include "zortest.h"

#include <QComboBox>
#include <QLineEdit>
#include <QTest>
#include <QToolButton>

namespace {

QStringList sentTexts(const RecordingPanel &panel)
{
    QStringList texts;
    for (const ZorMessage &m : panel.sent)
        texts << ZorMessage::msgTypeName(m.msgType()) + ":" + m.data().toString();
    return texts;
}

ZorMessage answer(int type, const QString &text)
{
    return ZorMessage(type, KS_ANSWER, text);
}

} // namespace

class TestAccessKeyWidget : public QObject
{
    Q_OBJECT

private slots:
    void followsTheModulesKeyClassesAndResult()
    {
        RecordingPanel panel;
        auto *keys = new ZorAccessKeyWidget(&panel);
        keys->show();
        keys->attachToPanel(&panel);
        QCOMPARE(sentTexts(panel), QStringList({"KM_GETPROPERTY:AccessKeyDefinitions",
                                                "KM_GETPROPERTY:AccessKeySet"}));
        QCOMPARE(panel.sent.first().origin(), QStringLiteral("GUI"));
        QVERIFY(keys->isHidden());

        auto *combo = keys->findChild<QComboBox *>("comboBoxAccessKey");
        auto *edit = keys->findChild<QLineEdit *>("lineEditAccessKey");
        QCOMPARE(edit->maxLength(), 10);

        keys->msgIn(answer(KM_GETPROPERTY, "AccessKeyDefinitions="));
        QVERIFY(keys->isHidden());
        keys->msgIn(answer(KM_GETPROPERTY,
                             "AccessKeyDefinitions=Service, a, b, c, 1234\n\nExpert,a,b,c,0x10\n"));
        QVERIFY(!keys->isHidden());
        QCOMPARE(combo->count(), 2);
        QCOMPARE(keys->keyOf("Expert"), 16u);
        // The same answer again changes nothing.
        combo->setCurrentIndex(1);
        keys->msgIn(answer(KM_SETPROPERTY,
                             "AccessKeyDefinitions=Service, a, b, c, 1234\n\nExpert,a,b,c,0x10\n"));
        QCOMPARE(combo->currentIndex(), 1);
        combo->setCurrentIndex(0);
        QCOMPARE(edit->text(), QStringLiteral("1234"));

        keys->msgIn(answer(KM_GETPROPERTY, "AccessKeySet=expert, 99, error"));
        QCOMPARE(combo->currentText(), QStringLiteral("Expert"));
        QCOMPARE(edit->text(), QStringLiteral("99"));
        QCOMPARE(edit->styleSheet(), QStringLiteral("background-color: #FF6052; color:black"));
        keys->msgIn(answer(KM_SETPROPERTY, "AccessKeySet=Expert,99,ok"));
        QCOMPARE(edit->styleSheet(), QStringLiteral("background-color: #5EBE37; color:black"));
        keys->msgIn(answer(KM_SETPROPERTY, "AccessKeySet=Expert,99,"));
        QCOMPARE(edit->styleSheet(), QStringLiteral("color:black"));
        // Other messages are not property values.
        keys->msgIn(ZorMessage(KM_INFOTEXT, KS_INFO, "AccessKeySet=Service,1,ok"));
        QCOMPARE(combo->currentText(), QStringLiteral("Expert"));

        panel.sent.clear();
        combo->setCurrentIndex(0);
        edit->setText("0x10");
        emit edit->editingFinished();
        QCOMPARE(sentTexts(panel), QStringList({"KM_SETPROPERTY:AccessKeySet=Service,16"}));
        QCOMPARE(panel.sent.last().msgState(), int(KS_REQUEST));

        panel.sent.clear();
        keys->findChild<QToolButton *>("toolButtonOk")->click();
        QCOMPARE(sentTexts(panel), QStringList({"KM_SETPROPERTY:AccessKeySet=",
                                                "KM_SETPROPERTY:AccessKeySet=Service,16"}));
        QCOMPARE(keys->keyOf("Service"), 16u);

        // Text that is no number is refused, never sent as key 0; the
        // number markers may be upper case.
        panel.sent.clear();
        for (const char *text : {"abc", "12x", ""}) {
            edit->setText(text);
            emit edit->editingFinished();
            keys->findChild<QToolButton *>("toolButtonOk")->click();
        }
        QVERIFY(panel.sent.isEmpty());
        QCOMPARE(edit->styleSheet(), QStringLiteral("background-color: #FF6052; color:black"));
        QCOMPARE(keys->keyOf("Service"), 16u);
        edit->setText("0X20");
        emit edit->editingFinished();
        QCOMPARE(sentTexts(panel), QStringList({"KM_SETPROPERTY:AccessKeySet=Service,32"}));
    }
};

ZOR_TEST(TestAccessKeyWidget)
#include "tst_accesskeywidget.moc"
