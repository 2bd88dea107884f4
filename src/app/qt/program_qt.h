// Process entry and run procedure of the Linux program.
#pragma once

#include <QUrl>

namespace parlex::app::qt {

// The chat service's agent page, fixed at build time.
QUrl AgentPageUrl();

// Tells the agent that a copy is already running; returns once dismissed.
void ShowAlreadyRunningMessage();

// Creates the main window on `page`, shows it and runs the event loop until
// something calls QCoreApplication::exit(code); answers that code. The window
// is gone when this returns.
int RunMainWindow(const QUrl& page);

// Before the application object exists: settings the web engine reads at
// its start.
void PrepareProcess();

// Once the application object exists: hiding the main window (or closing any
// other window while it is hidden) must not end the program.
void PrepareApplication();

// The whole process: single instance, application, main window, exit code.
int ProcessMain(int argc, char** argv);

}  // namespace parlex::app::qt
