#pragma once
// The library's diagnostics go to Qt's message handler under this category, so the program's
// logger (Harrow) receives them like any other Qt message; QT_LOGGING_RULES can silence them.

#include <QLoggingCategory>

Q_DECLARE_LOGGING_CATEGORY(lcOstrel)
