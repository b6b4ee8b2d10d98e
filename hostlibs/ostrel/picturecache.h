#pragma once
// Employee pictures the client already holds, by SHA-256 digest. A presence request lists the
// digests held, and the service then leaves those pictures' bytes out; the rows get them back
// from here. Memory keeps only the pictures seen in the latest complete answer, so it never
// grows past one presence list; with a disk store, the pictures also stay in the user's cache
// folder between runs, and rows whose pictures are not in memory read them from there.
//
// Used by the presence worker only (one answer at a time); not thread-safe.

#include "picturediskstore.h"

#include <QByteArray>
#include <QHash>

#include <memory>
#include <string>
#include <vector>

namespace ostrel {

// Half the service's default limit on listed digests; a request listing this many is about 3.4 MB.
constexpr std::size_t kMaxListedDigests = 100000;

class PictureCache
{
public:
    PictureCache();
    ~PictureCache();

    // Keeps the pictures in `options.folder` as well, or in memory only when the options are
    // disabled. Opening a folder indexes it: call this on the thread that uses the cache.
    void useDisk(const PictureDiskOptions &options);

    // The digests to list in the next request, each once: those on disk, most recently used
    // first (the latest answer's among them), then those only in memory; at most
    // kMaxListedDigests.
    std::vector<std::string> digests();

    // Starts collecting the pictures of one answer.
    void beginAnswer();
    // The picture of one row: the bytes it carries (remembered under its digest), or the held
    // picture when it carries none. Empty when the row has no picture or an unknown digest,
    // or when the file of a picture held on disk turns out damaged.
    QByteArray resolve(const std::string &digest, const std::string &bytes);
    // A complete answer replaces the pictures in memory; an interrupted one only adds to them,
    // since the rows it did not reach may still come with known digests next time.
    void finishAnswer(bool complete);

    int size() const { return m_held.size(); }

private:
    struct Held
    {
        QByteArray picture;
        quint64 answer = 0; // the last answer that showed it
    };

    QByteArray held(const QByteArray &digest);

    // One table, each picture marked with the last answer that showed it: a row costs one
    // lookup, and a complete answer drops the pictures it did not show.
    QHash<QByteArray, Held> m_held;
    quint64 m_answer = 0;
    std::unique_ptr<PictureDiskStore> m_disk;
};

} // namespace ostrel
