#pragma once
// The process-wide references through which the panel's long-lived objects reach each other.
//
// Start-up sets the service client, the picture store and the image provider right after
// creating each of them. The newest presence list model sets the current presence list.
// The QObject references are guarded: once their object is destroyed they read as nullptr,
// so nobody touches a list whose model is gone.

class QObject;
class EmpImage;
class EmpImageProvider;
class ModelPresenceList;

namespace ProcessRefs {

// The service client. Kept as a plain QObject: the service handler connects to its presence
// signals by signature, so any object with those signals serves (tests use stand-ins).
QObject *serviceClient();
void setServiceClient(QObject *client);

EmpImage *pictureStore();
void setPictureStore(EmpImage *store);

// Owned by the QML engine once registered; not a QObject, so not guarded.
EmpImageProvider *imageProvider();
void setImageProvider(EmpImageProvider *provider);

// The list of the most recently constructed ModelPresence; nullptr before the first one
// and after that list has been destroyed.
ModelPresenceList *currentPresenceList();
void setCurrentPresenceList(ModelPresenceList *list);

} // namespace ProcessRefs
