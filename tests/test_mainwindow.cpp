// The main window: controls, small handlers, the settlement list and the row
// of exchange boxes, on real widgets against the stand-in.
#include "data/fmCommonDM.h"
#include "tests/support/ModalDriver.h"
#include "tests/support/TestDb.h"
#include "tests/support/WindowFixture.h"
#include "ui/AmountEdit.h"
#include "ui/TulminaApplication.h"
#include "ui/frmMain.h"

#include <QCheckBox>
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QRadioButton>
#include <QSignalSpy>
#include <QtTest>

using fixture::Settlement;

namespace {
const QString Login = QStringLiteral("mwtest");
const Settlement Family4217{"Тест-Четыре",
                            "2799999900010",
                            "2799999900000",
                            {"421795", "421791", "421792", "421793", "421794"}};
const Settlement OtherFamily{"Тест-Другой",
                             "2799999900020",
                             "2799999900000",
                             {"421591", "421592", "421593", "421594", "421595"}};
const Settlement Mixed{"Тест-Смесь", "2799999900030", "2799999900000", {"421790", "421599"}};
const Settlement Apostrophe{"Тест 'Кавычка'", "2799999900040", "2799999900000", {"421581"}};

Settlement manyExchanges() {
    Settlement s{"Тест-31", "2799999900050", "2799999900000", {}};
    for (int k = 1; k <= 31; ++k)
        s.codes << QString("4214%1").arg(k, 2, 10, QChar('0'));
    return s;
}

QList<int> lefts(const TfmMain& w, bool labels) {
    QList<int> xs;
    for (int k = 1; k <= w.ExchangeCount; ++k)
        xs << (labels ? w.ExchangeLabels[k]->x() : w.ExchangeBoxes[k]->x());
    return xs;
}

QStringList tails(const TfmMain& w) {
    QStringList t;
    for (int k = 1; k <= w.ExchangeCount; ++k)
        t << w.ExchangeLabels[k]->text();
    return t;
}

bool allTicked(const TfmMain& w) {
    for (int k = 1; k <= w.ExchangeCount; ++k)
        if (!w.ExchangeBoxes[k]->isChecked())
            return false;
    return true;
}
} // namespace

class TestMainWindow : public QObject {
    Q_OBJECT
    std::unique_ptr<TdmCommon> dm;
    std::unique_ptr<ModalDriver> driver;

private slots:
    void initTestCase() {
        fixture::removeTestSettlements();
        for (const Settlement& s : {Family4217, OtherFamily, Mixed, Apostrophe, manyExchanges()})
            fixture::addSettlement(s);
    }
    void cleanupTestCase() {
        fixture::removeTestSettlements();
        testdb::dropLinkIfAny(Login);
    }
    void init() {
        dm = fixture::signedInDataModule(Login);
        driver = std::make_unique<ModalDriver>();
    }
    void cleanup() {
        driver.reset();
        dm.reset();
    }

    void controlsAtCreation() {
        TfmMain w;
        QCOMPARE(w.windowTitle(), QString("Тулмина"));
        QCOMPARE(w.minimumSize(), w.maximumSize());
        QCOMPARE(w.pos(), QPoint(69, 215));
        struct Expect {
            const char* name;
            QRect geometry;
            const char* text;
            bool bold;
        };
        const Expect expected[] = {
            {"Label4", {0, 0, 112, 13}, "Населенный пункт", true},
            {"cbSettlement", {1, 12, 233, 21}, "", false},
            {"Button1", {238, 12, 41, 21}, "Все", true},
            {"Label6", {2, 35, 246, 13}, "Отметь АТС которые не войдут в список", true},
            {"Label3", {3, 50, 25, 13}, "АТС", true},
            {"CodAts", {0, 65, 5, 13}, "", true},
            {"Label10", {136, 77, 138, 13}, "Формирование списка", true},
            {"ToTime", {1, 90, 43, 17}, "До", false},
            {"DateTimePickerTo", {55, 89, 77, 21}, nullptr, false},
            {"PrBar", {134, 93, 143, 14}, nullptr, false},
            {"Label1", {136, 100, 113, 36}, "Ждем-с", true},
            {"After", {1, 113, 56, 17}, "После", false},
            {"DateTimePickerAfter", {55, 111, 77, 21}, nullptr, false},
            {"Between", {1, 136, 55, 17}, "Между", false},
            {"Label7", {57, 138, 9, 13}, "C", true},
            {"DateTimePickerBetween1", {69, 134, 78, 21}, nullptr, false},
            {"Label5", {150, 138, 17, 13}, "По", true},
            {"DateTimePickerBetween2", {170, 134, 77, 21}, nullptr, false},
            {"Label8", {2, 156, 68, 13}, "Вид файла:", true},
            {"Label9", {121, 160, 26, 13}, "Кто:", true},
            {"cbTypeUser", {150, 157, 96, 21}, "Квартирники", false},
            {"cbTypeCall", {1, 169, 93, 21}, "Анализ", false},
            {"Label2", {3, 191, 163, 13}, "Минимальная сумма долга", true},
            {"ceSumma", {174, 183, 65, 21}, "", false},
            {"bbExecute", {6, 206, 233, 22}, "Формировать", false},
        };
        for (const Expect& e : expected) {
            auto* widget = w.findChild<QWidget*>(e.name);
            QVERIFY2(widget, e.name);
            if (qobject_cast<QLabel*>(widget)) { // a label widens to fit its text
                QCOMPARE(widget->pos(), e.geometry.topLeft());
                QCOMPARE(widget->height(), e.geometry.height());
                QVERIFY(widget->width() >= e.geometry.width());
            } else {
                QCOMPARE(widget->geometry(), e.geometry);
            }
            QCOMPARE(widget->font().bold(), e.bold);
            QString text;
            if (auto* l = qobject_cast<QLabel*>(widget))
                text = l->text();
            else if (auto* b = qobject_cast<QAbstractButton*>(widget))
                text = b->text();
            else if (auto* c = qobject_cast<QComboBox*>(widget))
                text = c->currentText();
            else if (auto* le = qobject_cast<QLineEdit*>(widget))
                text = le->text();
            if (e.text)
                QCOMPARE(text, QString(e.text));
        }
        QCOMPARE(w.Label7->text().at(0).unicode(), ushort(0x43));
        QCOMPARE(w.Label1->font().pixelSize(), 31);
        QCOMPARE(w.font().pixelSize(), 11);
        QVERIFY(w.Label1->isHidden());
        QVERIFY(w.PrBar->isHidden());
        QVERIFY(!w.ToTime->isChecked() && !w.After->isChecked() && !w.Between->isChecked());
        QCOMPARE(w.DateTimePickerTo->date(), QDate::currentDate());
        QCOMPARE(w.DateTimePickerBetween2->date(), QDate::currentDate());
        QCOMPARE(w.DateTimePickerAfter->date(), QDate(2006, 12, 31));
        QCOMPARE(w.DateTimePickerBetween1->date(), QDate(2006, 12, 31));
        QCOMPARE(w.cbTypeCall->currentIndex(), -1);
        QCOMPARE(w.cbTypeUser->currentIndex(), 0);
        QCOMPARE(w.cbTypeCall->count(), 3);
        QCOMPARE(w.cbTypeCall->itemText(0), QString("Тулмин"));
        QCOMPARE(w.cbTypeUser->itemText(1), QString("Организации"));
        QVERIFY(w.cbSettlement->isEditable());
        QCOMPARE(w.cbSettlement->count(), 0);
        QCOMPARE(w.bbExecute->nextInFocusChain(), static_cast<QWidget*>(w.ceSumma));
        QVERIFY(!w.windowIcon().isNull());
    }

    void amountFieldRewritesItsText() {
        TfmMain w;
        w.ceSumma->setText("500.00");
        w.ceSumma->normalize();
        QCOMPARE(w.ceSumma->text(), QString("500"));
        w.ceSumma->setText("-12.50");
        w.ceSumma->normalize();
        QCOMPARE(w.ceSumma->text(), QString("-12,5"));
        QCOMPARE(w.ceSumma->amount(), -12.5);
        w.ceSumma->setText("0,00");
        w.ceSumma->normalize();
        QCOMPARE(w.ceSumma->text(), QString());
        QCOMPARE(w.ceSumma->amount(), 0.0);
        QCOMPARE(w.ceSumma->alignment() & Qt::AlignRight, Qt::AlignRight);
        QTest::keyClicks(w.ceSumma, "12a.345");
        QCOMPARE(w.ceSumma->text(), QString("12.34"));
    }

    void cancelOrEscapeAtTheFirstQuestionEndsTheProgram_data() {
        QTest::addColumn<bool>("escape");
        QTest::newRow("Cancel") << false;
        QTest::newRow("Escape") << true;
    }
    void cancelOrEscapeAtTheFirstQuestionEndsTheProgram() {
        QFETCH(bool, escape);
        TfmMain w;
        w.setDataModule(dm.get());
        QSignalSpy closed(&w, &TfmMain::closed);
        escape ? driver->pressEscape() : driver->press("Cancel");
        w.showMainWindow();
        QCOMPARE(closed.count(), 1);
        QVERIFY(!w.isVisible());
        QCOMPARE(w.cbSettlement->count(), 0);
        QCOMPARE(driver->boxTexts,
                 QStringList{
                     "Выбор типа файла \"Анализ\" ведёт к обновлению данных таблиц. Продолжить?"});
        QCOMPARE(driver->boxCaptions, QStringList{"Тулмина"});
        QVERIFY(!testdb::linkExists(Login));
    }

    void okPresetsAnalysisAndOnlyTwoKindsWarn() {
        auto w = fixture::shownWindow(*dm, Family4217.name, *driver);
        QVERIFY(w->isVisible());
        QCOMPARE(w->cbTypeCall->currentIndex(), int(Analysis));
        QCOMPARE(driver->boxTexts.size(), 1);
        driver->press("OK");
        fixture::pickListKind(*w, General);
        driver->press("OK");
        fixture::pickListKind(*w, Analysis);
        fixture::pickListKind(*w, CallRound);
        QCOMPARE(driver->boxTexts.mid(1),
                 QStringList(2, "Предупреждение - данные таблиц будут обновлены..."));
        QCOMPARE(driver->unexpected, 0);
        QCOMPARE(w->cbTypeCall->currentIndex(), int(CallRound));
    }

    void datePickersTickTheirFilter() {
        TfmMain w;
        w.ToTime->setChecked(true);
        w.DateTimePickerBetween2->setDate(QDate(2010, 1, 1));
        QVERIFY(w.Between->isChecked());
        QVERIFY(!w.ToTime->isChecked());
        QTest::mouseClick(w.DateTimePickerAfter, Qt::LeftButton, {}, QPoint(10, 10));
        QVERIFY(w.After->isChecked());
        w.DateTimePickerTo->setDate(QDate(2011, 1, 1));
        QVERIFY(w.ToTime->isChecked());
        QVERIFY(!w.After->isChecked());
    }

    void initialLoadCutsEveryCodeAsTheOtherFamily() {
        auto w = fixture::shownWindow(*dm, Family4217.name, *driver);
        QCOMPARE(w->cbSettlement->count(), 1);
        QCOMPARE(w->ExchangeCount, 5);
        QCOMPARE(w->CodAts->text(), QString("42179")); // five characters, even for 4217 codes
        QCOMPARE(tails(*w), QStringList({"5", "1", "2", "3", "4"})); // the database's order
        QCOMPARE(lefts(*w, false), QList<int>({40, 58, 76, 94, 112}));
        QCOMPARE(lefts(*w, true), QList<int>({39, 57, 75, 93, 111}));
        QVERIFY(allTicked(*w));
        QCOMPARE(w->ExchangeBoxes[1]->geometry(), QRect(40, 48, 14, 17));
        QCOMPARE(w->ExchangeLabels[1]->y(), 65);
        QVERIFY(w->ExchangeLabels[1]->font().bold());
        QCOMPARE(w->ExchangeBoxes[1]->objectName(), QString("Ats5"));
    }

    void choiceCutsByFamily() {
        auto w = fixture::shownWindow(*dm, OtherFamily.name, *driver);
        fixture::pickSettlement(*w, Family4217.name);
        QCOMPARE(w->CodAts->text(), QString("4217"));
        QCOMPARE(tails(*w), QStringList({"91", "92", "93", "94", "95"})); // atskod order
        QCOMPARE(lefts(*w, false), QList<int>({34, 52, 70, 88, 106}));
        QCOMPARE(lefts(*w, true), QList<int>({34, 52, 70, 88, 106}));

        fixture::pickSettlement(*w, OtherFamily.name);
        QCOMPARE(w->CodAts->text(), QString("42159"));
        QCOMPARE(tails(*w), QStringList({"1", "2", "3", "4", "5"}));
        QCOMPARE(lefts(*w, false), QList<int>({40, 58, 76, 94, 112}));
        QCOMPARE(lefts(*w, true), QList<int>({39, 57, 75, 93, 111}));
        QCOMPARE(w->findChildren<QCheckBox*>().size(), 5); // the old row is gone

        fixture::pickSettlement(*w, Mixed.name);
        QCOMPARE(w->CodAts->text(), QString("42159"));
        QCOMPARE(tails(*w), QStringList({"9", "90"}));
        QCOMPARE(lefts(*w, false), QList<int>({40, 58}));
    }

    void buttonAllInvertsAndAChoiceTicksAgain() {
        auto w = fixture::shownWindow(*dm, OtherFamily.name, *driver);
        fixture::pickSettlement(*w, OtherFamily.name);
        w->ExchangeBoxes[2]->setChecked(false);
        w->ExchangeBoxes[4]->setChecked(false);
        QTest::mouseClick(w->Button1, Qt::LeftButton);
        QList<bool> ticks;
        for (int k = 1; k <= 5; ++k)
            ticks << w->ExchangeBoxes[k]->isChecked();
        QCOMPARE(ticks, QList<bool>({false, true, false, true, false}));
        fixture::pickSettlement(*w, OtherFamily.name);
        QVERIFY(allTicked(*w));
    }

    void typingIntoTheSettlementFieldChangesNothing() {
        auto w = fixture::shownWindow(*dm, OtherFamily.name, *driver);
        w->cbSettlement->setFocus();
        w->cbSettlement->lineEdit()->selectAll();
        for (QChar c : Family4217.name) { // typed key by key, as the user would
            QKeyEvent press(QEvent::KeyPress, Qt::Key_unknown, Qt::NoModifier, QString(c));
            QApplication::sendEvent(w->cbSettlement->lineEdit(), &press);
        }
        QCOMPARE(w->cbSettlement->currentText(), Family4217.name);
        QCOMPARE(w->CodAts->text(), QString("42159"));
        QCOMPARE(w->ExchangeCount, 5);
        QCOMPARE(dm->sqPhoneInd->lines().size(), 3); // still the stored statement
    }

    void onlyThirtyExchangesGetAPlace() {
        auto w = fixture::shownWindow(*dm, OtherFamily.name, *driver);
        fixture::pickSettlement(*w, manyExchanges().name);
        QCOMPARE(w->ExchangeCount, 30);
        QCOMPARE(w->findChildren<QCheckBox*>().size(), 30);
        QCOMPARE(w->ExchangeLabels[30]->text(), QString("0")); // code 421430
        QCOMPARE(w->ExchangeLabels[30]->x(), 40 + 18 * 29 - 1);
        QCOMPARE(w->size(), QSize(432, 243));
        fixture::pickSettlement(*w, OtherFamily.name);
        QCOMPARE(w->findChildren<QCheckBox*>().size(), 5);
    }

    void settlementWithAnApostropheLoads() {
        auto w = fixture::shownWindow(*dm, OtherFamily.name, *driver);
        fixture::pickSettlement(*w, Apostrophe.name);
        QCOMPARE(w->ExchangeCount, 1);
        QCOMPARE(w->CodAts->text(), QString("42158"));
        QCOMPARE(driver->unexpected, 0);
    }

    void settlementWithoutExchangesGivesAnEmptyRow() {
        auto w = fixture::shownWindow(*dm, OtherFamily.name, *driver);
        fixture::pickSettlement(*w, "Тест-Нет такого");
        QCOMPARE(w->ExchangeCount, 0);
        QCOMPARE(w->CodAts->text(), QString());
        QCOMPARE(w->findChildren<QCheckBox*>().size(), 0);
        QTest::mouseClick(w->Button1, Qt::LeftButton); // nothing to invert
    }

    void failingLoadIsReportedAndTheWindowStillShows() {
        dm->sqSettlement->replaceLine(2, "from no_such_table");
        TfmMain w;
        w.setDataModule(dm.get());
        driver->press("OK");
        driver->press("OK");
        QTimer::singleShot(0, &w, &TfmMain::showMainWindow);
        QTRY_COMPARE(driver->boxTexts.size(), 2);
        QVERIFY(driver->boxTexts[1].contains("no_such_table"));
        QTRY_VERIFY(w.isVisible());
    }
};

int main(int argc, char** argv) {
    TulminaApplication app(argc, argv);
    TestMainWindow test;
    return QTest::qExec(&test, argc, argv);
}
#include "test_mainwindow.moc"
