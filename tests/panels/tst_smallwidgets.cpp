#include "clickableqlabel.h"
#include "searchlineedit.h"
#include "valuerangespec.h"
#include "valuesrangevalidator.h"
#include "zoridwidget.h"
#include "zorintoremptyvalidator.h"
#include "zoroverlaylabel.h"
#include "zorquestionbox.h"
#include "zortest.h"

#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QScopeGuard>
#include <QSignalSpy>
#include <QTest>
#include <QToolButton>
#include <QVBoxLayout>

class TestSmallWidgets : public QObject
{
    Q_OBJECT

private slots:
    void intOrEmptyValidator_data()
    {
        QTest::addColumn<QString>("word");
        QTest::addColumn<QString>("input");
        QTest::addColumn<int>("state");
        const int A = QValidator::Acceptable, I = QValidator::Intermediate, X = QValidator::Invalid;
        QTest::newRow("empty") << "auto" << "" << A;
        QTest::newRow("blank") << "auto" << "  " << A;
        QTest::newRow("word") << "auto" << "auto" << A;
        QTest::newRow("part of word") << "auto" << "au" << I;
        QTest::newRow("other") << "auto" << "x" << X;
        QTest::newRow("in range") << "auto" << "127" << A;
        QTest::newRow("above") << "0 (Scan)" << "128" << X;
        QTest::newRow("typing on") << "0 (Scan)" << "12" << A;
        QTest::newRow("scan typed") << "0 (Scan)" << "0 (S" << I;
        QTest::newRow("scan") << "0 (Scan)" << "0 (Scan)" << A;
        QTest::newRow("case counts") << "0 (Scan)" << "0 (scan)" << X;
    }
    void intOrEmptyValidator()
    {
        QFETCH(QString, word);
        QFETCH(QString, input);
        QFETCH(int, state);
        ZorIntOrEmptyValidator validator(0, 127, nullptr, {word});
        int pos = input.size();
        QCOMPARE(int(validator.validate(input, pos)), state);
    }

    void idWidgetKeepsTypedIds()
    {
        ZorIdWidget ids;
        QCOMPARE(ids.count(), 18);
        QCOMPARE(ids.itemText(0), QStringLiteral("0 (Scan)"));
        QCOMPARE(ids.itemText(16), QStringLiteral("16"));
        QCOMPARE(ids.itemText(17), QStringLiteral("127"));
        QLineEdit *edit = ids.lineEdit();
        auto type = [&](const QString &text) {
            edit->setText(text);
            emit edit->editingFinished();
        };
        type("20");
        QCOMPARE(ids.count(), 19);
        QCOMPARE(ids.currentText(), QStringLiteral("20"));
        type("3");
        QCOMPARE(ids.currentIndex(), 3);
        type("20");
        QCOMPARE(ids.count(), 19);
        QCOMPARE(ids.currentIndex(), 18);
        type(" 5");
        QCOMPARE(ids.currentIndex(), 5);
        type("");
        QCOMPARE(ids.currentIndex(), 0);
        // The validator keeps ids beyond 127 out of the field.
        edit->clear();
        QTest::keyClicks(edit, "128");
        QCOMPARE(edit->text(), QStringLiteral("12"));
    }

    void valueRangeTextForms_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<int>("mode");
        QTest::addColumn<double>("first");
        QTest::addColumn<double>("second");
        QTest::addColumn<QString>("longForm");
        QTest::addColumn<QString>("compactForm");
        QTest::newRow("Automatic") << "Automatic" << 0 << 0.0 << 0.0 << "automatic" << "a";
        QTest::newRow("AUTO") << "  AUTO " << 0 << 0.0 << 0.0 << "automatic" << "a";
        QTest::newRow("a") << "a" << 0 << 0.0 << 0.0 << "automatic" << "a";
        QTest::newRow("5") << "5" << 2 << 5.0 << 0.0 << "5/div" << "5";
        QTest::newRow("0") << "0" << 2 << 0.0 << 0.0 << "" << "";
        QTest::newRow("5/div") << "5/div" << 2 << 5.0 << 0.0 << "5/div" << "5";
        QTest::newRow("offset") << "2.5/div offset=-10" << 2 << 2.5 << -10.0
                                << "2.50/div offset=-10" << "2.50o-10";
        QTest::newRow("compact offset") << "2.50o-10" << 2 << 2.5 << -10.0
                                        << "2.50/div offset=-10" << "2.50o-10";
        QTest::newRow("10o3") << "10o3" << 2 << 10.0 << 3.0 << "10/div offset=3" << "10o3";
        QTest::newRow("offset before div") << "offset=1 5/div" << 3 << 0.0 << 0.0 << "" << "";
        QTest::newRow("min max") << "min=0 max=100" << 1 << 0.0 << 100.0 << "min=0 max=100" << "0m100";
        QTest::newRow("MIN MAX") << "MIN = -1.5 MAX = 2" << 1 << -1.5 << 2.0
                                 << "min=-1.50 max=2" << "-1.50m2";
        QTest::newRow("0m100") << "0m100" << 1 << 0.0 << 100.0 << "min=0 max=100" << "0m100";
        QTest::newRow("-10m10") << "-10m10" << 1 << -10.0 << 10.0 << "min=-10 max=10" << "-10m10";
        QTest::newRow("equal") << "min=5 max=5" << 3 << 0.0 << 0.0 << "" << "";
        QTest::newRow("reversed") << "10m0" << 3 << 0.0 << 0.0 << "" << "";
        QTest::newRow("two decimals") << "1.234" << 2 << 1.23 << 0.0 << "1.23/div" << "1.23";
        QTest::newRow("million") << "1000000/div" << 2 << 1e6 << 0.0 << "1e+06/div" << "1e+06";
        QTest::newRow("junk") << "three" << 3 << 0.0 << 0.0 << "" << "";
        QTest::newRow("comma") << "1,5" << 3 << 0.0 << 0.0 << "" << "";
    }
    void valueRangeTextForms()
    {
        QFETCH(QString, text);
        QFETCH(int, mode);
        QFETCH(double, first);
        QFETCH(double, second);
        QFETCH(QString, longForm);
        QFETCH(QString, compactForm);
        ValueRangeSpec spec;
        spec.fromString(text);
        QCOMPARE(spec.mode(), mode);
        QCOMPARE(spec.first(), first);
        QCOMPARE(spec.second(), second);
        QCOMPARE(spec.toString(false), longForm);
        QCOMPARE(spec.toString(true), compactForm);
        // Both forms read back to the same range.
        for (const QString &form : {longForm, compactForm}) {
            if (form.isEmpty())
                continue;
            ValueRangeSpec again;
            again.fromString(form);
            QCOMPARE(again.mode(), mode);
            QCOMPARE(again.first(), first);
            QCOMPARE(again.second(), second);
        }
        ValuesRangeValidator validator;
        int pos = 0;
        QCOMPARE(validator.validate(text, pos),
                 spec.isValid() ? QValidator::Acceptable : QValidator::Intermediate);
    }

    void searchLineEditKeepsTextClearOfItsButton()
    {
        QWidget window;
        auto *search = new SearchLineEdit(&window);
        QToolButton *button = search->searchButton();
        QVERIFY(!button->icon().isNull());
        window.resize(500, 100);
        window.show();
        QVERIFY(QTest::qWaitForWindowExposed(&window));
        for (int width : {60, 150, 400}) {
            search->resize(width, search->minimumSizeHint().height() + 6);
            QVERIFY(button->geometry().right() <= search->rect().right());
            QVERIFY(button->geometry().left() > search->rect().left());
            // The style sheet pads the text area up to the button.
            const int padding = search->styleSheet().section("padding-right:", 1).section("px", 0, 0).trimmed().toInt();
            QVERIFY(search->width() - padding <= button->geometry().left() + 1);
        }
        QVERIFY(search->minimumHeight() >= button->sizeHint().height());
    }

    void clickableLabelTakesLeftPressesOnly()
    {
        ClickableQLabel label;
        QSignalSpy clicked(&label, &ClickableQLabel::clicked);
        QTest::mousePress(&label, Qt::RightButton);
        QTest::mousePress(&label, Qt::MiddleButton);
        QCOMPARE(clicked.size(), 0);
        QTest::mousePress(&label, Qt::LeftButton);
        QCOMPARE(clicked.size(), 1);
    }

    void overlayLabelShowsItsHintAndLetsClicksThrough()
    {
        QWidget window;
        window.resize(300, 200);
        auto *button = new QPushButton("under", &window);
        button->setGeometry(0, 0, 300, 200);
        auto *overlay = new ZorOverlayLabel(&window);
        overlay->setText("Drop objects here");
        overlay->fitToParent();
        QCOMPARE(overlay->size(), QSize(300, 200));
        QLabel *label = overlay->findChild<QLabel *>("label");
        QVERIFY(label->text().contains("font-size:10pt;\">Drop objects here</span>"));
        QCOMPARE(label->alignment(), Qt::AlignCenter);
        overlay->setHighlighted(true);
        QCOMPARE(label->styleSheet(), QStringLiteral("padding: 10px; border: 2px dashed grey"));
        overlay->setHighlighted(false);
        QVERIFY(label->styleSheet().isEmpty());

        window.show();
        QVERIFY(QTest::qWaitForWindowExposed(&window));
        QVERIFY(overlay->isVisible());
        QCOMPARE(window.childAt(150, 100), button);
        QSignalSpy clicked(button, &QPushButton::clicked);
        QTest::mouseClick(window.childAt(150, 100), Qt::LeftButton);
        QCOMPARE(clicked.size(), 1);
    }

    // The short forms build the box they stand for, and only the named
    // button counts as going on.
    void questionBoxShortForms()
    {
        QList<ZorQuestionBox::Question> asked;
        QMessageBox::StandardButton answer = QMessageBox::NoButton;
        ZorQuestionBox::setHook([&](const ZorQuestionBox::Question &q) {
            asked << q;
            return answer;
        });
        const auto unhook = qScopeGuard([] { ZorQuestionBox::setHook(nullptr); });
        struct Case
        {
            QMessageBox::StandardButton yes;
            QMessageBox::StandardButtons buttons;
            QMessageBox::StandardButton defaultButton;
            QMessageBox::StandardButton other;
        };
        const Case cases[] = {
            {QMessageBox::Yes, QMessageBox::Yes | QMessageBox::No, QMessageBox::No, QMessageBox::No},
            {QMessageBox::Ok, QMessageBox::Ok | QMessageBox::Cancel, QMessageBox::Cancel, QMessageBox::Cancel},
        };
        for (const Case &c : cases) {
            asked.clear();
            answer = c.yes;
            QVERIFY(ZorQuestionBox::confirm(nullptr, "Title", "Text", c.yes));
            for (QMessageBox::StandardButton no : {c.other, QMessageBox::NoButton}) {
                answer = no;
                QVERIFY(!ZorQuestionBox::confirm(nullptr, "Title", "Text", c.yes));
            }
            QCOMPARE(asked.size(), 3);
            const ZorQuestionBox::Question &q = asked.first();
            QCOMPARE(q.icon, QMessageBox::Warning);
            QCOMPARE(q.title, QStringLiteral("Title"));
            QCOMPARE(q.text, QStringLiteral("Text"));
            QCOMPARE(q.buttons, c.buttons);
            QCOMPARE(q.defaultButton, c.defaultButton);
        }

        asked.clear();
        ZorQuestionBox::warn(nullptr, "Failed", "Why");
        QCOMPARE(asked.size(), 1);
        QCOMPARE(asked.first().icon, QMessageBox::Warning);
        QCOMPARE(asked.first().text, QStringLiteral("Why"));
        QCOMPARE(asked.first().buttons, QMessageBox::StandardButtons(QMessageBox::Ok));
        QCOMPARE(asked.first().defaultButton, QMessageBox::Ok);
    }
};

ZOR_TEST(TestSmallWidgets)
#include "tst_smallwidgets.moc"
