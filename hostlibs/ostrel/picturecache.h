#pragma once
// Employee pictures the client already holds, by SHA-256 digest. A presence request lists the
// digests held, and the service then leaves those pictures' bytes out; the rows get them back
// from here. The cache keeps only the pictures seen in the latest complete answer, so it never
// grows past one presence list.
//
// Used by the presence worker only (one answer at a time); not thread-safe.

#include <QByteArray>
#include <QHash>

#include <string>
#include <vector>

namespace ostrel {

class PictureCache
{
public:
    // The digests to list in the next request.
    std::vector<std::string> digests() const;

    // Starts collecting the pictures of one answer.
    void beginAnswer();
    // The picture of one row: the bytes it carries (remembered under its digest), or the held
    // picture when it carries none. Empty when the row has no picture or an unknown digest.
    QByteArray resolve(const std::string &digest, const std::string &bytes);
    // A complete answer replaces the cache; an interrupted one only adds to it, since the rows
    // it did not reach may still come with known digests next time.
    void finishAnswer(bool complete);

    int size() const { return m_held.size(); }

private:
    struct Held
    {
        QByteArray picture;
        quint64 answer = 0; // the last answer that showed it
    };

    // One table, each picture marked with the last answer that showed it: a row costs one
    // lookup, and a complete answer drops the pictures it did not show.
    QHash<QByteArray, Held> m_held;
    quint64 m_answer = 0;
};

} // namespace ostrel
