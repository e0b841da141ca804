// Makes the README's screenshots on a real X display (Xvfb): the sign-in
// dialog after a mistyped password, the main window signed in against the sample data, and a report
// of an "Анализ" run left open in LibreOffice Calc. Run by docs/make-screenshots.
#include "app/Entry.h"
#include "app/fmPassword.h"
#include "tests/support/ModalDriver.h"
#include "tests/support/WindowFixture.h"
#include "ui/TulminaApplication.h"
#include "ui/frmMain.h"

#include <QCheckBox>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QScreen>
#include <QTest>

namespace {
void save(const QPixmap& picture, const QString& name) {
    picture.save(QStringLiteral(DOCS_DIR "/") + name);
}
} // namespace

int main(int argc, char** argv) {
    TulminaApplication app(argc, argv);
    ModalDriver driver;
    // A mistyped password first: the dialog comes back in red.
    driver.then(fixture::typeSignIn("ivanova", "demo"));
    driver.then([](QWidget* w) {
        auto* dlg = qobject_cast<TPasswordDlg*>(w);
        dlg->UserName->setText("ivanova");
        dlg->Password->setText("demo2008");
        QTest::qWait(500);
        save(dlg->grab(), "sign-in.png");
        dlg->OKBtn->click();
    });
    driver.press("OK");
    QTimer poll;
    bool started = false;
    QObject::connect(&poll, &QTimer::timeout, [&] {
        TfmMain* w = fixture::visibleMainWindow();
        if (started || !w || driver.pending() > 0)
            return;
        started = true;
        fixture::pickSettlement(*w, QStringLiteral("Биробиджан"));
        w->ExchangeBoxes[1]->setChecked(false);
        w->ExchangeBoxes[3]->setChecked(false);
        w->After->setChecked(true);
        QTest::qWait(500);
        save(w->grab(), "main-window.png");
        QTest::mouseClick(w->bbExecute, Qt::LeftButton);
        QTest::qWait(6000); // the office draws its window
        save(QGuiApplication::primaryScreen()->grabWindow(0), "report-in-calc.png");
        w->close();
    });
    poll.start(100);
    runSignedInProgram(app);
    return 0;
}
