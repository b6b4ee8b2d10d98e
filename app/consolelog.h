#pragma once
// Where the panel's console lines go.
//
// The screens write short progress lines through QML's console ("filter enter",
// "onTextChanged" ...). They belong in the log file, not on the terminal of a user who started
// the panel from a shell: once routed, they reach the logger, which copies them to the
// console only while console logging is on (the settings file's log/console, or the panel's
// --log-console option). Warnings and errors, QML's included, keep their usual way to stderr.

#include <QStringList>

// Whether the panel copies its log to the console: `arguments` hold --log-console, or the
// settings store already says so.
bool consoleLoggingWanted(const QStringList &arguments);

// Sends QML's debug and info lines to the logger from now on. Safe to call more than once.
void routeQmlConsoleToLog();
