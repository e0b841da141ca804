// What the windows draw: colours, bold and sizes of texts, alignment, and texts
// that fit their controls, read back from the rendered pixels.
#include "app/fmPassword.h"
#include "data/fmCommonDM.h"
#include "tests/support/ModalDriver.h"
#include "tests/support/Pixels.h"
#include "tests/support/TestDb.h"
#include "tests/support/WindowFixture.h"
#include "ui/AmountEdit.h"
#include "ui/TulminaApplication.h"
#include "ui/frmMain.h"

#include <QAbstractButton>
#include <QCheckBox>
#include <QComboBox>
#include <QDateEdit>
#include <QLabel>
#include <QPushButton>
#include <QRadioButton>
#include <QtTest>

namespace {
const QColor Maroon(128, 0, 0);
const QColor Blue(0, 0, 255);
const QColor Red(255, 0, 0);

// Pixels of `colour` inside the rectangle of `child` in the rendering of its window.
int colourIn(QWidget* window, QWidget* child, const QColor& colour) {
    return pixels::countColour(pixels::drawn(window), child->geometry(), colour);
}

// Ink of a widget at its own size, and with room to spare: equal when nothing is cut off.
std::pair<int, int> inkCutAndWhole(QWidget* w) {
    const QSize size = w->size();
    const int atSize = pixels::ink(pixels::drawn(w), w->rect());
    w->resize(size.width() + 80, size.height());
    const int withRoom = pixels::ink(pixels::drawn(w), w->rect());
    w->resize(size);
    return {atSize, withRoom};
}

// A label's text drawn once more in the regular weight of its font.
int regularInk(const QLabel* label) {
    QLabel twin(label->text());
    twin.setPalette(label->palette());
    QFont f = label->font();
    f.setBold(false);
    twin.setFont(f);
    twin.resize(label->size());
    return pixels::ink(pixels::drawn(&twin), twin.rect());
}
} // namespace

class TestDrawing : public QObject {
    Q_OBJECT

private slots:
    void colouredTextsOfTheMainWindow() {
        TfmMain w;
        w.show();
        QVERIFY(QTest::qWaitForWindowExposed(&w));
        QVERIFY2(colourIn(&w, w.Label6, Maroon) > 20, "Label6 is not drawn in maroon");
        QCOMPARE(pixels::countColour(pixels::drawn(&w), w.Label6->geometry(), Qt::black, 30), 0);
        QVERIFY2(colourIn(&w, w.Label7, Blue) > 5, "Label7 is not drawn in blue");
        QVERIFY2(colourIn(&w, w.Label5, Blue) > 5, "Label5 is not drawn in blue");
        QCOMPARE(colourIn(&w, w.Label4, Maroon) + colourIn(&w, w.Label4, Blue), 0);
        w.Label1->show();
        QVERIFY2(colourIn(&w, w.Label1, Red) > 100, "Label1 is not drawn in red");
    }

    void messageLineOfTheSignInDialogIsRed() {
        TPasswordDlg dlg;
        dlg.setMessage(QStringLiteral("Попробуйте еще раз"));
        dlg.show();
        QVERIFY(QTest::qWaitForWindowExposed(&dlg));
        QVERIFY2(colourIn(&dlg, dlg.Label3, Red) > 20, "the message line is not drawn in red");
        QCOMPARE(colourIn(&dlg, dlg.Label2, Red), 0);
        QVERIFY(pixels::ink(pixels::drawn(&dlg), dlg.Label3->geometry()) > regularInk(dlg.Label3));
    }

    void boldTextsAreDrawnBoldAndSizesHold() {
        TfmMain w;
        for (QLabel* l : {w.Label4, w.Label6, w.Label3, w.Label10, w.Label8, w.Label2}) {
            const int drawnInk = pixels::ink(pixels::drawn(l), l->rect());
            QVERIFY2(drawnInk > regularInk(l) * 1.15, qPrintable(l->objectName()));
            const int height = pixels::inkBounds(pixels::drawn(l), l->rect()).height();
            QVERIFY2(height >= 7 && height <= 12, qPrintable(l->objectName()));
        }
        const int busyHeight =
            pixels::inkBounds(pixels::drawn(w.Label1), w.Label1->rect()).height();
        QVERIFY2(busyHeight >= 20, qPrintable(QString::number(busyHeight)));
        QVERIFY(pixels::ink(pixels::drawn(w.Label1), w.Label1->rect()) > regularInk(w.Label1));
    }

    void amountIsDrawnAtTheRightOfItsField() {
        TfmMain w;
        w.ceSumma->setText(QStringLiteral("500"));
        const QRect text = pixels::inkBounds(pixels::drawn(w.ceSumma), w.ceSumma->rect());
        QVERIFY(!text.isNull());
        QVERIFY2(text.left() > w.ceSumma->width() / 2, qPrintable(QString::number(text.left())));
        QVERIFY(text.right() >= w.ceSumma->width() - 10);
    }

    void textsFitTheirControls() {
        TfmMain w;
        w.cbSettlement->addItem(QStringLiteral("Биробиджан"));
        w.DateTimePickerTo->setDate(QDate(2028, 12, 28)); // wide digits
        const QList<QWidget*> controls{w.ToTime,
                                       w.After,
                                       w.Between,
                                       w.DateTimePickerTo,
                                       w.DateTimePickerAfter,
                                       w.DateTimePickerBetween1,
                                       w.DateTimePickerBetween2,
                                       w.cbTypeUser,
                                       w.cbSettlement,
                                       w.Label1,
                                       w.Button1,
                                       w.bbExecute};
        QStringList cutOff;
        for (QWidget* c : controls) {
            const auto [cut, whole] = inkCutAndWhole(c);
            if (cut != whole)
                cutOff << QStringLiteral("%1 %2/%3").arg(c->objectName()).arg(cut).arg(whole);
        }
        QVERIFY2(cutOff.isEmpty(), qPrintable(cutOff.join(QStringLiteral(", "))));
    }

    void exchangeRowDrawsItsCodesInBold() {
        const fixture::Settlement town{
            "Тест-Рисунок", "2799999900060", "2799999900000", {"421700", "421788"}};
        fixture::removeTestSettlements();
        fixture::addSettlement(town);
        auto dm = fixture::signedInDataModule(QStringLiteral("drawtest"));
        ModalDriver driver;
        auto w = fixture::shownWindow(*dm, town.name, driver);
        fixture::pickSettlement(*w, town.name);
        const QImage image = pixels::drawn(w.get());
        for (QLabel* l : {w->CodAts, w->ExchangeLabels[1].data(), w->ExchangeLabels[2].data()}) {
            const auto [cut, whole] = inkCutAndWhole(l);
            QVERIFY2(cut == whole && cut > 0, qPrintable(l->text()));
            QVERIFY2(pixels::ink(image, l->geometry()) > regularInk(l) * 1.15,
                     qPrintable(l->text()));
        }
        w.reset();
        dm.reset();
        fixture::removeTestSettlements();
        testdb::dropLinkIfAny(QStringLiteral("drawtest"));
    }
};

int main(int argc, char** argv) {
    TulminaApplication app(argc, argv);
    TestDrawing test;
    return QTest::qExec(&test, argc, argv);
}
#include "test_drawing.moc"
