#include "picturecache.h"

#include <algorithm>
#include <iterator>

namespace ostrel {

PictureCache::PictureCache() = default;
PictureCache::~PictureCache() = default;

void PictureCache::useDisk(const PictureDiskOptions &options)
{
    if (!options.enabled())
        m_disk.reset();
    else if (m_disk && m_disk->folder() == options.folder)
        m_disk->setMaxBytes(options.maxBytes);
    else
        m_disk = std::make_unique<PictureDiskStore>(options);
}

std::vector<std::string> PictureCache::digests()
{
    std::vector<std::string> out;
    // Usually every picture in memory is on disk too: each is looked up once, not listed twice.
    if (m_disk)
        out = m_disk->listForAnswer(kMaxListedDigests);
    out.reserve(std::min(out.size() + std::size_t(m_held.size()), kMaxListedDigests));
    for (auto it = m_held.cbegin(); it != m_held.cend() && out.size() < kMaxListedDigests; ++it) {
        if (!m_disk || !m_disk->holds(it.key()))
            out.emplace_back(it.key().constData(), it.key().size());
    }
    return out;
}

void PictureCache::beginAnswer()
{
    ++m_answer;
}

QByteArray PictureCache::resolve(const std::string &digest, const std::string &bytes)
{
    if (digest.empty())
        return QByteArray(bytes.data(), int(bytes.size()));
    if (!bytes.empty()) {
        const QByteArray picture(bytes.data(), int(bytes.size()));
        const QByteArray key(digest.data(), int(digest.size()));
        m_held.insert(key, Held{picture, m_answer});
        if (m_disk)
            m_disk->store(key, picture);
        return picture;
    }
    // Looked up without a copy of the digest.
    return held(QByteArray::fromRawData(digest.data(), int(digest.size())));
}

QByteArray PictureCache::held(const QByteArray &digest)
{
    const auto inMemory = m_held.find(digest);
    if (inMemory != m_held.end()) {
        inMemory->answer = m_answer;
        if (m_disk)
            m_disk->touch(digest);
        return inMemory->picture;
    }
    if (!m_disk)
        return QByteArray();
    const QByteArray picture = m_disk->read(digest);
    if (!picture.isEmpty())
        m_held.insert(QByteArray(digest.constData(), digest.size()), Held{picture, m_answer});
    return picture;
}

void PictureCache::finishAnswer(bool complete)
{
    if (m_disk)
        m_disk->finishAnswer();
    // An interrupted answer keeps everything: what it did not reach may come back next time.
    if (!complete)
        return;
    for (auto it = m_held.begin(); it != m_held.end();)
        it = it->answer == m_answer ? std::next(it) : m_held.erase(it);
}

} // namespace ostrel
