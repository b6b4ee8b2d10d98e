#include "picturediskstore.h"

#include "answercheck.h"
#include "ostrellog.h"
#include <pindle/pindle.h>

#include <QDir>
#include <QDirIterator>
#include <QLockFile>
#include <QStandardPaths>
#include <QTemporaryFile>
#include <QtEndian>

#include <openssl/evp.h>

#include <algorithm>
#include <cstring>

namespace ostrel {

namespace {

constexpr int kDefaultPicturesMB = 256;
constexpr int kDigestBytes = 32;
// A record: this mark, the digest, the picture's length (little-endian), the picture.
constexpr char kRecordMark[4] = {'V', 'P', 'K', '1'};
constexpr int kLengthAt = int(sizeof kRecordMark) + kDigestBytes;
// New records are written this many bytes at a time, not one system call per picture.
constexpr int kWriteChunkBytes = 1024 * 1024;

QByteArray recordHeader(const QByteArray &digest, qint64 bytes)
{
    QByteArray header(kRecordMark, int(sizeof kRecordMark));
    header += digest;
    char length[4];
    qToLittleEndian<quint32>(quint32(bytes), length);
    header.append(length, 4);
    return header;
}

// The picture length a header at `at` announces, or -1 when it is no header of a record that
// fits into `size` bytes.
qint64 recordLength(const uchar *pack, qint64 at, qint64 size)
{
    if (size - at < PictureDiskStore::kRecordHeaderBytes
        || std::memcmp(pack + at, kRecordMark, sizeof kRecordMark) != 0)
        return -1;
    const qint64 length = qFromLittleEndian<quint32>(pack + at + kLengthAt);
    if (length == 0 || length > qint64(kMaxPictureBytes) || length > size - at - PictureDiskStore::kRecordHeaderBytes)
        return -1;
    return length;
}

qint64 recordBytes(qint64 pictureBytes)
{
    return PictureDiskStore::kRecordHeaderBytes + pictureBytes;
}

} // namespace

QByteArray pictureDigest(const QByteArray &bytes)
{
    QByteArray digest(kDigestBytes, Qt::Uninitialized);
    unsigned int length = 0;
    if (EVP_Digest(bytes.constData(), std::size_t(bytes.size()), reinterpret_cast<unsigned char *>(digest.data()),
                   &length, EVP_sha256(), nullptr) != 1 || length != kDigestBytes)
        return QByteArray();
    return digest;
}

PictureDiskOptions PictureDiskOptions::fromSettings(const Settings *settings)
{
    PictureDiskOptions options;
    const QString cache = QStandardPaths::writableLocation(QStandardPaths::CacheLocation);
    if (!cache.isEmpty())
        options.folder = cache + QStringLiteral("/pictures");
    options.maxBytes = qint64(settings ? settings->cachePicturesMB() : kDefaultPicturesMB) * 1024 * 1024;
    return options;
}

QString PictureDiskStore::packFileName()
{
    return QStringLiteral("pictures.pack");
}

PictureDiskStore::PictureDiskStore(const PictureDiskOptions &options)
    : m_folder(options.folder)
    , m_maxBytes(options.maxBytes)
{
    if (!open())
        return;
    removeForeignFiles();
    index();
    trim();
}

PictureDiskStore::~PictureDiskStore()
{
    flushPending();
}

void PictureDiskStore::setMaxBytes(qint64 maxBytes)
{
    m_maxBytes = maxBytes;
    trim();
}

std::vector<std::string> PictureDiskStore::listForAnswer(std::size_t limit)
{
    ++m_listing;
    m_answerOpen = true;
    std::vector<std::string> digests;
    digests.reserve(std::min(limit, m_order.size()));
    for (auto entry = m_order.rbegin(); entry != m_order.rend() && digests.size() < limit; ++entry) {
        entry->listing = m_listing;
        digests.emplace_back(entry->digest.constData(), entry->digest.size());
    }
    return digests;
}

void PictureDiskStore::finishAnswer()
{
    m_answerOpen = false;
    trim();
    // The pictures shown are in memory now; kept mapped, the pack would count in the panel's
    // resident memory a second time.
    mapPack(0);
    if (m_damaged > 0) {
        qCInfo(lcOstrel).noquote()
            << QStringLiteral("Pictures found damaged in the cache folder %1, dropped and fetched again with the next presence answer: %2.")
                   .arg(QDir::toNativeSeparators(m_folder))
                   .arg(m_damaged);
    }
    m_damaged = 0;
}

QByteArray PictureDiskStore::read(const QByteArray &digest)
{
    const auto found = m_index.constFind(digest);
    if (found == m_index.cend())
        return QByteArray();
    const UseOrder::iterator entry = *found;
    const QByteArray picture = readRecord(*entry);
    if (picture.isEmpty() || pictureDigest(picture) != entry->digest) {
        ++m_damaged;
        drop(entry);
        return QByteArray();
    }
    markUsed(entry);
    return picture;
}

void PictureDiskStore::store(const QByteArray &digest, const QByteArray &picture)
{
    const auto found = m_index.constFind(digest);
    if (found != m_index.cend()) {
        markUsed(*found);
        return;
    }
    const qint64 bytes = picture.size();
    if (!m_writable || bytes == 0 || recordBytes(bytes) > m_maxBytes || pictureDigest(picture) != digest)
        return;
    makeRoom(recordBytes(bytes), true);
    // A deep copy: the caller's digest may point into a message that goes away.
    const QByteArray ownDigest(digest.constData(), digest.size());
    add(Entry{ownDigest, m_packBytes, bytes, 0});
    append(ownDigest, picture);
}

void PictureDiskStore::touch(const QByteArray &digest)
{
    const auto found = m_index.constFind(digest);
    if (found != m_index.cend())
        markUsed(*found);
}

bool PictureDiskStore::open()
{
    if (!QDir().mkpath(m_folder)) {
        stopWriting(QStringLiteral("the folder cannot be created"));
        return false;
    }
    m_lock = std::make_unique<QLockFile>(lockPath());
    m_lock->setStaleLockTime(0); // stale only when its process is gone, however long it runs
    if (!m_lock->tryLock(0)) {
        m_writable = false;
        qCInfo(lcOstrel).noquote()
            << QStringLiteral("The cache folder %1 is in use by another panel; this one keeps the pictures in memory only.")
                   .arg(QDir::toNativeSeparators(m_folder));
        return false;
    }
    m_pack.setFileName(packPath());
    if (!m_pack.open(QIODevice::ReadWrite | QIODevice::Unbuffered)) {
        stopWriting(m_pack.errorString());
        return false;
    }
    return true;
}

void PictureDiskStore::removeForeignFiles()
{
    // Left over from a rewrite that was cut short, a picture file of the older layout, or not ours.
    const QString lockName = lockPath();
    int removed = 0;
    QDirIterator files(m_folder, QDir::Files | QDir::Hidden | QDir::System);
    while (files.hasNext()) {
        const QString path = files.next();
        if (path != m_pack.fileName() && !path.startsWith(lockName))
            removed += QFile::remove(path);
    }
    if (removed > 0) {
        qCInfo(lcOstrel).noquote() << QStringLiteral("Files removed from the cache folder %1 because they are not its picture pack: %2.")
                                          .arg(QDir::toNativeSeparators(m_folder))
                                          .arg(removed);
    }
}

void PictureDiskStore::index()
{
    const qint64 size = m_pack.size();
    mapPack(size);
    const uchar *pack = m_mapped;
    qint64 at = 0;
    for (qint64 length; pack && (length = recordLength(pack, at, size)) >= 0; at += recordBytes(length)) {
        const QByteArray digest(reinterpret_cast<const char *>(pack) + at + sizeof kRecordMark, kDigestBytes);
        // A picture stored again after its record was found damaged: the later record holds.
        const auto older = m_index.constFind(digest);
        if (older != m_index.cend())
            drop(*older);
        add(Entry{digest, at, length, 0});
    }
    m_packBytes = at;
    m_flushedBytes = at;
    if (at == size)
        return;
    // A torn last record, or a file that is no pack at all: what cannot be read goes.
    mapPack(0);
    m_pack.resize(at);
    mapPack(at);
    qCInfo(lcOstrel).noquote() << QStringLiteral("The picture pack in the cache folder %1 had %2 bytes that are no pictures; they were cut off.")
                                      .arg(QDir::toNativeSeparators(m_folder))
                                      .arg(size - at);
}

void PictureDiskStore::add(Entry entry)
{
    m_usedBytes += recordBytes(entry.bytes);
    const QByteArray digest = entry.digest;
    m_order.push_back(std::move(entry));
    m_index.insert(digest, std::prev(m_order.end()));
}

PictureDiskStore::UseOrder::iterator PictureDiskStore::drop(UseOrder::iterator entry)
{
    // Its bytes stay in the pack, dead, until the pack is rewritten.
    m_usedBytes -= recordBytes(entry->bytes);
    m_index.remove(entry->digest);
    return m_order.erase(entry);
}

void PictureDiskStore::markUsed(UseOrder::iterator entry)
{
    m_order.splice(m_order.end(), m_order, entry);
}

void PictureDiskStore::makeRoom(qint64 incoming, bool spareListed)
{
    auto entry = m_order.begin();
    while (m_usedBytes + incoming > m_maxBytes && entry != m_order.end()) {
        if (spareListed && m_answerOpen && entry->listing == m_listing)
            ++entry;
        else
            entry = drop(entry);
    }
}

void PictureDiskStore::trim()
{
    flushPending();
    makeRoom(0, false);
    const qint64 deadBytes = m_packBytes - m_usedBytes;
    if (m_pack.isOpen() && (m_packBytes > m_maxBytes || deadBytes * 2 > m_packBytes))
        rewrite();
}

QByteArray PictureDiskStore::readRecord(const Entry &entry)
{
    const qint64 at = entry.offset + kRecordHeaderBytes;
    if (at >= m_flushedBytes)
        return m_pending.mid(int(at - m_flushedBytes), int(entry.bytes));
    if (at + entry.bytes <= m_mappedBytes)
        return QByteArray(reinterpret_cast<const char *>(m_mapped) + at, int(entry.bytes));
    if (!m_pack.seek(entry.offset + kRecordHeaderBytes))
        return QByteArray();
    QByteArray picture = m_pack.read(entry.bytes);
    return picture.size() == entry.bytes ? picture : QByteArray();
}

void PictureDiskStore::append(const QByteArray &digest, const QByteArray &picture)
{
    m_pending += recordHeader(digest, picture.size());
    m_pending += picture;
    m_packBytes += recordBytes(picture.size());
    if (m_pending.size() >= kWriteChunkBytes)
        flushPending();
}

void PictureDiskStore::flushPending()
{
    if (m_pending.isEmpty())
        return;
    if (m_pack.seek(m_flushedBytes) && m_pack.write(m_pending) == m_pending.size()) {
        m_flushedBytes = m_packBytes;
        m_pending.clear();
        return;
    }
    const QString reason = m_pack.errorString();
    m_pack.resize(m_flushedBytes); // no part of a record stays behind
    for (auto entry = m_order.begin(); entry != m_order.end();)
        entry = entry->offset >= m_flushedBytes ? drop(entry) : std::next(entry);
    m_packBytes = m_flushedBytes;
    m_pending.clear();
    stopWriting(reason);
}

void PictureDiskStore::rewrite()
{
    // Written under a temporary name and renamed, so a killed process leaves the old pack or
    // the new one. Not QSaveFile: its sync to disk would hold up the answer's end; a pack that a
    // power cut tears loses its records from the tear on, which come again.
    QTemporaryFile file(packPath() + QStringLiteral(".XXXXXX"));
    bool written = m_writable && file.open();
    std::vector<qint64> offsets;
    offsets.reserve(m_order.size());
    qint64 size = 0;
    for (auto entry = m_order.begin(); written && entry != m_order.end();) {
        const QByteArray picture = readRecord(*entry);
        if (picture.isEmpty() || pictureDigest(picture) != entry->digest) {
            ++m_damaged;
            entry = drop(entry);
            continue;
        }
        const QByteArray record = recordHeader(entry->digest, picture.size()) + picture;
        written = file.write(record) == record.size();
        offsets.push_back(size);
        size += record.size();
        ++entry;
    }
    written = written && file.flush();
    if (written) {
        QFile::remove(packPath()); // a file left under this name would block the rename
        written = file.rename(packPath());
    }
    if (written) {
        file.setAutoRemove(false);
        mapPack(0);
        m_pack.close();
        m_pack.setFileName(packPath());
        written = m_pack.open(QIODevice::ReadWrite | QIODevice::Unbuffered);
    }
    if (!written) {
        // The bound holds all the same: nothing is kept until the folder takes pictures again.
        stopWriting(file.errorString());
        m_order.clear();
        m_index.clear();
        m_usedBytes = 0;
        m_packBytes = 0;
        m_flushedBytes = 0;
        mapPack(0);
        if (m_pack.isOpen())
            m_pack.resize(0);
        else
            QFile::remove(packPath());
        return;
    }
    auto offset = offsets.cbegin();
    for (Entry &entry : m_order)
        entry.offset = *offset++;
    m_packBytes = size;
    m_flushedBytes = size;
}

void PictureDiskStore::mapPack(qint64 bytes)
{
    if (m_mapped)
        m_pack.unmap(const_cast<uchar *>(m_mapped));
    m_mapped = bytes > 0 ? m_pack.map(0, bytes) : nullptr;
    m_mappedBytes = m_mapped ? bytes : 0;
}

void PictureDiskStore::stopWriting(const QString &reason)
{
    if (!m_writable)
        return;
    m_writable = false;
    qCWarning(lcOstrel).noquote()
        << QStringLiteral("Cannot keep employee pictures in the cache folder %1 (%2); until the panel is restarted, new pictures are not kept there. Free disk space or make the folder writable.")
               .arg(QDir::toNativeSeparators(m_folder), reason);
}

QString PictureDiskStore::packPath() const
{
    return QDir(m_folder).filePath(packFileName());
}

QString PictureDiskStore::lockPath() const
{
    return packPath() + QStringLiteral(".lock");
}

} // namespace ostrel
