#pragma once
// Shared by the presence benchmarks: timing, rows and pictures (figures: benchfigures.h).
// The service client's stand-in comes from the presence tests (ScriptedPresenceService).

#include "benchfigures.h"
#include "modelpresenceitem.h"
#include "support/presencetestsupport.h"

#include <QByteArray>
#include <QString>
#include <QVector>

#include <functional>

namespace Bench {

// Milliseconds taken by `work`.
double timeMs(const std::function<void()> &work);

// Row n of a realistic answer: last names from a pool of a hundred, each held by 1% of the
// rows ("dosav" finds one of them); statuses "Present", "Absent", "On leave" in turn.
ModelPresenceItem row(int n);
QVector<ModelPresenceItem> rows(int count, const QByteArray &picture);

// A JPEG of the given size whose content depends on `seed`, so no two pictures are alike.
QByteArray jpeg(int width, int height, int seed);

// Resident memory of this process in bytes, from /proc/self/status.
qint64 residentBytes();

} // namespace Bench
