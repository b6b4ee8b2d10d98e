#pragma once
// Photos as an office's are: portraits of 900x1200 pixels, JPEGs of 100-250 kB. The same index
// gives the same bytes, different indexes different pictures, so tests and benchmarks can make
// as many distinct photos as they need.

#include <QByteArray>
#include <QString>

namespace vorna::testing {

QByteArray portraitPhoto(int index);

// An import folder of `employees` employees E000000, E000001, ... in 50 departments, each with
// its own portraitPhoto() (pictures/e000000.jpg, ...) and two registrations, an arrival and a
// departure. A folder that holds the marker `.complete` is taken as it is; otherwise it is
// written anew, the photos on every core (minutes for 10,000), and the marker last, so an
// interrupted run leaves no folder that looks complete. False when a file cannot be written.
bool writePhotoFolder(const QString &folder, int employees);
bool isCompletePhotoFolder(const QString &folder);
constexpr int PhotoFolderRegistrationsPerEmployee = 2;

} // namespace vorna::testing
