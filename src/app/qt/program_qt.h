// Process entry and run procedure of the Linux program.
#pragma once

#include <QString>
#include <QUrl>

namespace parlex::app::qt {

// The agent page of the chat service at chatBaseUrl (the built-in one when
// empty).
QUrl AgentPageUrl(const QString& chatBaseUrl = QString());

// Tells the agent that a copy is already running; returns once dismissed.
void ShowAlreadyRunningMessage();

// Creates the main window on `page`, shows it and runs the event loop until
// something calls QCoreApplication::exit(code); answers that code. The window
// is gone when this returns. Pages of chatBaseUrl's origin (the built-in
// chat service when empty) get the external object.
int RunMainWindow(const QUrl& page, const QString& chatBaseUrl = QString());

// Tells the agent that a setting is wrong and the program does not start;
// returns once dismissed.
void ShowBadSettingMessage(const QString& error);

// Before the application object exists: settings the web engine reads at
// its start.
void PrepareProcess();

// Once the application object exists: hiding the main window (or closing any
// other window while it is hidden) must not end the program.
void PrepareApplication();

// The whole process: single instance, application, main window, exit code.
int ProcessMain(int argc, char** argv);

}  // namespace parlex::app::qt
