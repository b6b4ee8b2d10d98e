#pragma once
// Where the panel's console lines go.
//
// The screens write short progress lines through QML's console ("filter enter",
// "onTextChanged" ...). They belong in the log file with the native records: once routed, they
// reach the logger, which copies them to the console only while console logging is on (the
// settings file's log/console). Warnings and errors, QML's included, keep their usual way to
// stderr.

// Sends QML's debug and info lines to the logger from now on. Safe to call more than once.
void routeQmlConsoleToLog();
