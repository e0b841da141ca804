#pragma once
#include "platform/Spreadsheet.h"

#include <memory>

class TulminaApplication;

// The program from its guard on: run by main(), and in-process by the
// end-to-end tests. Always returns exit code 0.
int runTulmina(int& argc, char** argv);

// Everything after the application object exists: the three long-lived
// objects, the sign-in loop and, after a sign-in, the main event loop. The
// spreadsheet application is LibreOffice unless another is given. Returns the
// main event loop's exit code (0 when there was none).
int runSignedInProgram(TulminaApplication& app, std::unique_ptr<Spreadsheet> spreadsheet = nullptr);
