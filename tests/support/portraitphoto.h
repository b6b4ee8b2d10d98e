#pragma once
// Photos as an office's are: portraits of 900x1200 pixels, JPEGs of 100-250 kB. The same index
// gives the same bytes, different indexes different pictures, so tests and benchmarks can make
// as many distinct photos as they need.

#include <QByteArray>

namespace vorna::testing {

QByteArray portraitPhoto(int index);

} // namespace vorna::testing
