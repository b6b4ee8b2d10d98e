#include "picturediskstore.h"

#include "answercheck.h"
#include "ostrellog.h"
#include <pindle/pindle.h>

#include <QCryptographicHash>
#include <QDateTime>
#include <QDir>
#include <QDirIterator>
#include <QStandardPaths>
#include <QTemporaryFile>

#include <algorithm>

namespace ostrel {

namespace {

constexpr int kDefaultPicturesMB = 256;
constexpr int kDigestHexLength = 64;
// A picture in use has its file's time moved forward at most this often: enough to keep the
// order of use across restarts without a write for every row of every answer.
constexpr qint64 kRestampAfterMs = 60 * 60 * 1000;

qint64 nowMs()
{
    return QDateTime::currentMSecsSinceEpoch();
}

// The digest a file name stands for, or empty when the name is not one of ours.
QByteArray digestFromName(const QString &name)
{
    const auto isLowerHex = [](QChar c) {
        return (c >= QLatin1Char('0') && c <= QLatin1Char('9')) || (c >= QLatin1Char('a') && c <= QLatin1Char('f'));
    };
    if (name.size() != kDigestHexLength || !std::all_of(name.cbegin(), name.cend(), isLowerHex))
        return QByteArray();
    return QByteArray::fromHex(name.toLatin1());
}

bool matches(const QByteArray &picture, const QByteArray &digest)
{
    return QCryptographicHash::hash(picture, QCryptographicHash::Sha256) == digest;
}

} // namespace

PictureDiskOptions PictureDiskOptions::fromSettings(const Settings *settings)
{
    PictureDiskOptions options;
    const QString cache = QStandardPaths::writableLocation(QStandardPaths::CacheLocation);
    if (!cache.isEmpty())
        options.folder = cache + QStringLiteral("/pictures");
    options.maxBytes = qint64(settings ? settings->cachePicturesMB() : kDefaultPicturesMB) * 1024 * 1024;
    return options;
}

PictureDiskStore::PictureDiskStore(const PictureDiskOptions &options)
    : m_folder(options.folder)
    , m_maxBytes(options.maxBytes)
{
    index();
}

void PictureDiskStore::setMaxBytes(qint64 maxBytes)
{
    m_maxBytes = maxBytes;
    makeRoom(0, false);
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
    makeRoom(0, false);
    if (m_damaged > 0) {
        qCInfo(lcOstrel).noquote()
            << QStringLiteral("Pictures found damaged or missing in the cache folder %1, dropped and fetched again with the next presence answer: %2.")
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
    QFile file(pathOf(entry->digest));
    QByteArray picture;
    if (file.open(QIODevice::ReadOnly) && file.size() <= qint64(kMaxPictureBytes))
        picture = file.readAll();
    file.close();
    if (picture.isEmpty() || !matches(picture, entry->digest)) {
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
    if (!m_writable || bytes == 0 || bytes > m_maxBytes || !matches(picture, digest))
        return;
    makeRoom(bytes, true);
    // A deep copy: the caller's digest may point into a message that goes away.
    if (write(pathOf(digest), picture))
        add(Entry{QByteArray(digest.constData(), digest.size()), bytes, nowMs(), 0});
}

void PictureDiskStore::touch(const QByteArray &digest)
{
    const auto found = m_index.constFind(digest);
    if (found != m_index.cend())
        markUsed(*found);
}

void PictureDiskStore::index()
{
    if (!QDir().mkpath(m_folder)) {
        stopWriting(QStringLiteral("the folder cannot be created"));
        return;
    }
    std::vector<Entry> found;
    int removed = 0;
    QDirIterator files(m_folder, QDir::Files | QDir::Hidden | QDir::System);
    while (files.hasNext()) {
        files.next();
        const QFileInfo info = files.fileInfo();
        const QByteArray digest = digestFromName(info.fileName());
        // Left over from a write that was cut short, or not ours; an empty file is no picture.
        if (digest.isEmpty() || info.size() <= 0 || info.size() > qint64(kMaxPictureBytes)) {
            removed += QFile::remove(info.filePath());
            continue;
        }
        found.push_back(Entry{digest, info.size(), info.lastModified().toMSecsSinceEpoch(), 0});
    }
    std::sort(found.begin(), found.end(), [](const Entry &a, const Entry &b) { return a.stampedMs < b.stampedMs; });
    for (Entry &entry : found)
        add(std::move(entry));
    if (removed > 0) {
        qCInfo(lcOstrel).noquote() << QStringLiteral("Files removed from the cache folder %1 because they are not pictures: %2.")
                                          .arg(QDir::toNativeSeparators(m_folder))
                                          .arg(removed);
    }
    makeRoom(0, false);
}

void PictureDiskStore::add(Entry entry)
{
    m_usedBytes += entry.bytes;
    const QByteArray digest = entry.digest;
    m_order.push_back(std::move(entry));
    m_index.insert(digest, std::prev(m_order.end()));
}

PictureDiskStore::UseOrder::iterator PictureDiskStore::drop(UseOrder::iterator entry)
{
    QFile::remove(pathOf(entry->digest));
    m_usedBytes -= entry->bytes;
    m_index.remove(entry->digest);
    return m_order.erase(entry);
}

void PictureDiskStore::markUsed(UseOrder::iterator entry)
{
    m_order.splice(m_order.end(), m_order, entry);
    const qint64 now = nowMs();
    if (now - entry->stampedMs < kRestampAfterMs)
        return;
    QFile file(pathOf(entry->digest));
    if (file.open(QIODevice::ReadOnly))
        file.setFileTime(QDateTime::fromMSecsSinceEpoch(now), QFileDevice::FileModificationTime);
    entry->stampedMs = now; // also when that failed: one try an interval is enough
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

bool PictureDiskStore::write(const QString &path, const QByteArray &picture)
{
    // Written under a temporary name and renamed, so a killed process never leaves part of a
    // picture under a picture's name. Not QSaveFile: it syncs every file to disk, which makes a
    // first answer of thousands of pictures take seconds longer; a file that a power cut tears
    // fails its digest check instead, and is fetched again.
    QTemporaryFile file(path + QStringLiteral(".XXXXXX"));
    if (!file.open() || file.write(picture) != picture.size() || !file.flush()) {
        stopWriting(file.errorString());
        return false;
    }
    QFile::remove(path); // a file left under this name would block the rename
    if (!file.rename(path)) {
        stopWriting(file.errorString());
        return false;
    }
    file.setAutoRemove(false);
    return true;
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

QString PictureDiskStore::pathOf(const QByteArray &digest) const
{
    return m_folder + QLatin1Char('/') + QString::fromLatin1(digest.toHex());
}

} // namespace ostrel
