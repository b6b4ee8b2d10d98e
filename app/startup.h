#pragma once
// The panel's entry point and its composition root.

// Runs the panel (or, given --version, prints "vornapanel VERSION" and returns 0): configures Qt, opens the settings and logging libraries, creates the
// long-lived objects, loads qrc:/main.qml and runs the event loop. Returns the exit code:
// -1 when the main QML file yields no root object, otherwise the event loop's result.
int runPanel(int &argc, char **argv);

// The two Qt options that must be set before the application object exists.
void prepareBeforeApplication();

// Everything start-up does between creating the application object and creating the panel's
// objects, in its fixed order: the QML type, the style, the identity, the settings store,
// the "QUuid" alias and the logger. Tools that build the panel in-process call it too.
void configurePanelProcess();

// Registers the one QML type of the panel: ModelPresence (the presence filter) in the
// module "rs.quorvane" 1.0. Needs the application object; QML tests call it too.
void registerPanelQmlTypes();
