#include "app/Entry.h"

#include "ConnectionConfig.h"
#include "app/SignIn.h"
#include "app/fmPassword.h"
#include "data/fmCommonDM.h"
#include "platform/Failure.h"
#include "platform/InstanceLock.h"
#include "platform/LibreOfficeSpreadsheet.h"
#include "ui/MessageBoxes.h"
#include "ui/TulminaApplication.h"
#include "ui/frmMain.h"

#include <QSessionManager>
#include <QTimer>
#include <cstdio>
#include <memory>

namespace {

// The system asks whether the logon session may end. While the sign-in dialog
// is up there is nothing to drop yet: the dialog is cancelled and the program
// ends. Later the main window is closed, which drops the user's link; during a
// run that close waits for the run's end, and the session is not held up.
void answerSessionEnd(TulminaApplication& app, TPasswordDlg* dialog, TfmMain& window) {
    QObject::connect(&app, &QGuiApplication::commitDataRequest, &window,
                     [dialog = QPointer<TPasswordDlg>(dialog), &window](QSessionManager& manager) {
                         if (dialog && dialog->isVisible()) {
                             dialog->reject();
                             return;
                         }
                         if (window.isVisible() && !window.close() && !window.closeWaitsForRun())
                             manager.cancel();
                     });
}

// The office is waited for as long as the database server is before the user
// is asked.
office::Options officeOptions() {
    office::Options options;
    options.answerLimitMs = config::AnswerLimitSeconds * 1000;
    return options;
}

} // namespace

int runSignedInProgram(TulminaApplication& app, std::unique_ptr<Spreadsheet> spreadsheet) {
    auto fmMain = std::make_unique<TfmMain>();
    auto dmCommon = std::make_unique<TdmCommon>();
    fmMain->setDataModule(dmCommon.get());
    fmMain->cbListExcel = spreadsheet ? std::move(spreadsheet)
                                      : std::make_unique<LibreOfficeSpreadsheet>(officeOptions());
    auto PasswordDlg = std::make_unique<TPasswordDlg>();
    answerSessionEnd(app, PasswordDlg.get(), *fmMain);

    runSignInLoop(*PasswordDlg, *dmCommon);

    if (signInState().SignInPending)
        return 0; // cancelled, or three failures
    PasswordDlg.release()->deleteLater();
    QObject::connect(fmMain.get(), &TfmMain::closed, &app, &QCoreApplication::quit,
                     Qt::QueuedConnection);
    QTimer::singleShot(0, fmMain.get(), &TfmMain::showMainWindow);
    return app.exec();
}

int runTulmina(int& argc, char** argv) {
    const InstanceLock guard(QStringLiteral("Тулмина"));
    if (guard.state() == InstanceLock::State::HeldElsewhere)
        return 0;
    TulminaApplication app(argc, argv);
    if (guard.state() == InstanceLock::State::Unavailable) {
        std::fprintf(stderr, "%s\n", qPrintable(guard.problem()));
        msgbox::reportError(FileError(guard.problem()));
        return 1;
    }
    // An error that is not a failure of the server or of the input is the
    // program's own: it is shown, and the program ends.
    int exitCode = 1;
    msgbox::reportErrors([&] { exitCode = runSignedInProgram(app); });
    return exitCode;
}
