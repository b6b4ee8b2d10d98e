#pragma once
// Employee pictures kept in the user's cache folder between runs, so that the first presence
// request after a start can list them as held and the service leaves their bytes out.
//
// All pictures live in one append-only pack file, each a record of its SHA-256 digest, its
// length and its bytes: a first answer of ten thousand pictures is then ten thousand appends
// to one file instead of ten thousand files made and renamed, which cost the file system
// seconds. Only digests, places and the order of use are held in memory; the bytes are read
// when a row needs them and checked against the digest, so a damaged record is never shown:
// it is dropped, its digest is no longer listed, and the picture comes again with the next
// answer. A pack cut short by a killed process loses its torn tail; a file that is not a pack,
// and files of an older layout, are removed.
//
// The pack is bounded in bytes, the least recently used pictures going first. Dropped records
// stay in the file as dead bytes until the pack is rewritten, which happens at the end of an
// answer when the dead bytes take the pack past its bound or make up half of it. The rewrite
// puts the pictures in their order of use, which is how that order outlives a restart; after
// a restart, the first answer moves the pictures it shows to the recent end again. Pictures
// listed in a request stay until its answer ends, so during an answer the pack may pass its
// bound by the new pictures that answer brings.
//
// One process at a time keeps pictures in a folder (a lock file says which); another panel of
// the same user keeps its pictures in memory only. Used by the presence worker only; not
// thread-safe.

#include <QByteArray>
#include <QFile>
#include <QHash>
#include <QString>

#include <list>
#include <memory>
#include <string>
#include <vector>

class QLockFile;
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

// The SHA-256 digest of `bytes`, as the service names pictures.
QByteArray pictureDigest(const QByteArray &bytes);

class PictureDiskStore
{
public:
    // Bytes a picture takes in the pack besides its own.
    static constexpr int kRecordHeaderBytes = 40;
    static QString packFileName();

    // Opens and indexes the pack (digests and places only), removes what is not ours, and
    // trims it to the bound. A folder that cannot be made or is in use means nothing is kept.
    explicit PictureDiskStore(const PictureDiskOptions &options);
    ~PictureDiskStore();

    const QString &folder() const { return m_folder; }
    void setMaxBytes(qint64 maxBytes);

    // The digests to list in a request, most recently used first, at most `limit`. Until
    // finishAnswer() these pictures are not dropped to make room: their rows may still come.
    std::vector<std::string> listForAnswer(std::size_t limit);
    bool holds(const QByteArray &digest) const { return m_index.contains(digest); }
    // Drops the least recently used pictures beyond the bound, listed ones included, and
    // rewrites the pack when its dead bytes call for it.
    void finishAnswer();

    // The picture held under `digest`; empty when none is held or its record is damaged. A
    // damaged record is dropped, so the digest is not listed again.
    QByteArray read(const QByteArray &digest);
    // Keeps `picture` unless it is held already or its SHA-256 is not `digest`.
    void store(const QByteArray &digest, const QByteArray &picture);
    // Marks a held picture as just used.
    void touch(const QByteArray &digest);

    int count() const { return m_index.size(); }
    // What the held pictures take in the pack, headers included.
    qint64 usedBytes() const { return m_usedBytes; }
    // The pack's size, dead bytes included.
    qint64 packBytes() const { return m_packBytes; }

private:
    struct Entry
    {
        QByteArray digest;
        qint64 offset = 0;   // of the record's header in the pack
        qint64 bytes = 0;    // of the picture alone
        quint64 listing = 0; // the last request that listed it
    };
    using UseOrder = std::list<Entry>; // least recently used first

    bool open();
    void removeForeignFiles();
    void index();
    void add(Entry entry);
    UseOrder::iterator drop(UseOrder::iterator entry);
    void markUsed(UseOrder::iterator entry);
    // Drops pictures, least recently used first, until `incoming` more bytes fit.
    void makeRoom(qint64 incoming, bool spareListed);
    QByteArray readRecord(const Entry &entry);
    void append(const QByteArray &digest, const QByteArray &picture);
    // Writes the records not yet written; when that fails, they are dropped.
    void flushPending();
    void trim();
    void rewrite();
    // Maps the pack's first `bytes` for reading, none for 0; drops the previous mapping.
    void mapPack(qint64 bytes);
    void stopWriting(const QString &reason);
    QString packPath() const;
    QString lockPath() const;

    QString m_folder;
    qint64 m_maxBytes = 0;
    qint64 m_usedBytes = 0;
    qint64 m_packBytes = 0;
    qint64 m_flushedBytes = 0; // the rest of the pack is still in m_pending
    QByteArray m_pending;
    UseOrder m_order;
    QHash<QByteArray, UseOrder::iterator> m_index;
    std::unique_ptr<QLockFile> m_lock;
    QFile m_pack;
    // Until the end of the first answer, pictures are read from the pack as mapped when it was
    // opened: no system call per row. Later reads, and records appended since, take calls. Only this process changes
    // the pack (the lock), and it drops the mapping before it ever shortens the file.
    const uchar *m_mapped = nullptr;
    qint64 m_mappedBytes = 0;
    quint64 m_listing = 0;
    bool m_answerOpen = false; // between listForAnswer() and finishAnswer()
    bool m_writable = true;
    int m_damaged = 0; // found in the current answer, logged at its end
};

} // namespace ostrel
