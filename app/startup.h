#pragma once

#include <QByteArray>
// The panel's entry point and its composition root.

// Runs the panel (or, given --version, prints "vornapanel VERSION" and returns 0): configures Qt, opens the settings and logging libraries, creates the
// long-lived objects, loads qrc:/main.qml and runs the event loop. Returns the exit code:
// -1 when the main QML file yields no root object, otherwise the event loop's result.
int runPanel(int &argc, char **argv);

// The two Qt options that must be set before the application object exists.
void prepareBeforeApplication();

// Everything start-up does between creating the application object and creating the panel's
// objects, in its fixed order: the QML type, the style, the render loop, the identity, the
// settings store, the "QUuid" alias and the logger. Tools that build the panel in-process call
// it too.
void configurePanelProcess();

// Whether an OpenGL renderer string names a rasteriser that runs on the processor.
bool isSoftwareRenderer(const QByteArray &glRenderer);

// Picks Qt Quick's basic render loop when OpenGL renders in software, unless QSG_RENDER_LOOP
// already names one; must run before the first window exists. A software rasteriser's buffer
// swaps do not wait for the display, so the threaded loop draws a running animation (the busy
// indicator while a list loads) as fast as it can, some 250 frames a second under Xvfb, and
// takes a core from the client library's worker and from a service on the same machine. The
// basic loop paces animations by a timer at the display's rate; the screens stay the same.
void chooseRenderLoop();

// Registers the one QML type of the panel: ModelPresence (the presence filter) in the
// module "rs.quorvane" 1.0. Needs the application object; QML tests call it too.
void registerPanelQmlTypes();
