#pragma once
// Employee pictures kept in the user's cache folder between runs, so that the first presence
// request after a start can list them as held and the service leaves their bytes out.
//
// One file per picture, named by the hex SHA-256 of its bytes. Only names, sizes and the order
// of use are held in memory; the bytes are read when a row needs them and checked against the
// name, so a damaged or foreign file is never shown: it is removed, its digest is no longer
// listed, and the picture comes again with the next answer. The folder is bounded in bytes,
// the least recently used pictures going first; the order outlives a restart as the files'
// modification times. Pictures listed in a request stay until its answer ends, so during an
// answer the folder may pass its bound by the new pictures that answer brings.
//
// Used by the presence worker only; not thread-safe.

#include <QByteArray>
#include <QHash>
#include <QString>

#include <list>
#include <string>
#include <vector>

class Settings;

namespace ostrel {

struct PictureDiskOptions
{
    QString folder;      // empty: no folder to keep pictures in
    qint64 maxBytes = 0; // 0: no pictures are kept on disk

    bool enabled() const { return !folder.isEmpty() && maxBytes > 0; }
    // "pictures" in the user's cache folder, bounded by the store's "cache/picturesMB";
    // `settings` may be null: the default bound applies then.
    static PictureDiskOptions fromSettings(const Settings *settings);
};

class PictureDiskStore
{
public:
    // Indexes the folder (names, sizes and times only), removes what is not a picture file of
    // ours, and trims it to the bound. A folder that cannot be made means nothing is kept.
    explicit PictureDiskStore(const PictureDiskOptions &options);

    const QString &folder() const { return m_folder; }
    void setMaxBytes(qint64 maxBytes);

    // The digests to list in a request, most recently used first, at most `limit`. Until
    // finishAnswer() these pictures are not dropped to make room: their rows may still come.
    std::vector<std::string> listForAnswer(std::size_t limit);
    // Drops the least recently used pictures beyond the bound, listed ones included.
    void finishAnswer();

    // The picture held under `digest`; empty when none is held or its file is damaged. A
    // damaged file is removed, so the digest is not listed again.
    QByteArray read(const QByteArray &digest);
    // Keeps `picture` unless it is held already or its SHA-256 is not `digest`.
    void store(const QByteArray &digest, const QByteArray &picture);
    // Marks a held picture as just used.
    void touch(const QByteArray &digest);

    int count() const { return m_index.size(); }
    qint64 usedBytes() const { return m_usedBytes; }

private:
    struct Entry
    {
        QByteArray digest;
        qint64 bytes = 0;
        qint64 stampedMs = 0; // the file's modification time as last set
        quint64 listing = 0;  // the last request that listed it
    };
    using UseOrder = std::list<Entry>; // least recently used first

    void index();
    void add(Entry entry);
    UseOrder::iterator drop(UseOrder::iterator entry);
    void markUsed(UseOrder::iterator entry);
    // Drops pictures, least recently used first, until `incoming` more bytes fit.
    void makeRoom(qint64 incoming, bool spareListed);
    bool write(const QString &path, const QByteArray &picture);
    void stopWriting(const QString &reason);
    QString pathOf(const QByteArray &digest) const;

    QString m_folder;
    qint64 m_maxBytes = 0;
    qint64 m_usedBytes = 0;
    UseOrder m_order;
    QHash<QByteArray, UseOrder::iterator> m_index;
    quint64 m_listing = 0;
    bool m_answerOpen = false; // between listForAnswer() and finishAnswer()
    bool m_writable = true;
    int m_damaged = 0; // found in the current answer, logged at its end
};

} // namespace ostrel
