#pragma once
// The display rendition of an employee picture: what presence answers send instead of the
// original. Offices' photos are 100-300 kB and about 900x1200 pixels, while the panel shows a
// picture at most 100x100 points, so the rendition is at most RenditionSide pixels on its
// longer side (never enlarged), turned upright as the photo's EXIF orientation says, and
// encoded as JPEG, or as PNG when the picture has transparency a JPEG would lose.

#include <QByteArray>
#include <QString>

namespace vorna::transfer {

inline constexpr int RenditionSide = 256;
inline constexpr int RenditionJpegQuality = 85;

struct Rendition
{
    QByteArray bytes; // JPEG or PNG; empty when it could not be made
    QString problem;  // why not, as a sentence naming the picture; empty when made
};

// Makes the rendition of `picture` (an encoded image); `name` names the picture in `problem`.
// Safe to call on many threads at once: decoding is most of the work, so callers with many
// pictures spread them over every core.
Rendition makeRendition(const QByteArray &picture, const QString &name);

// The SHA-256 of a picture's bytes, by which pictures are stored and sent. OpenSSL's uses the
// processor's SHA instructions: many times faster than Qt's own on an import's gigabytes.
QByteArray pictureDigest(const QByteArray &bytes);

// A picture found good, with its display rendition and both digests: what is stored.
struct CheckedPicture
{
    QByteArray original;
    QByteArray originalDigest;
    QByteArray rendition;       // empty: the original is shown as it is
    QByteArray renditionDigest; // of what is shown
};

// `original` and its `rendition`, with their digests made here.
CheckedPicture checkedPicture(QByteArray original, QByteArray rendition);

// The file name extension for the encoded image whose first bytes are `leadingBytes` ("jpg",
// "png"), told from the bytes and not from any name; "bin" when they are no image format
// known here.
QString pictureFileExtension(const QByteArray &leadingBytes);

// How many leading bytes pictureFileExtension needs.
inline constexpr int PictureSignatureBytes = 16;

} // namespace vorna::transfer
