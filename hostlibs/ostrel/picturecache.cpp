#include "picturecache.h"

namespace ostrel {

std::vector<std::string> PictureCache::digests() const
{
    std::vector<std::string> out;
    out.reserve(m_held.size());
    for (auto it = m_held.cbegin(); it != m_held.cend(); ++it)
        out.emplace_back(it.key().constData(), it.key().size());
    return out;
}

void PictureCache::beginAnswer()
{
    m_seen.clear();
}

QByteArray PictureCache::resolve(const std::string &digest, const std::string &bytes)
{
    if (digest.empty())
        return QByteArray(bytes.data(), int(bytes.size()));
    const QByteArray key(digest.data(), int(digest.size()));
    QByteArray picture;
    if (!bytes.empty())
        picture = QByteArray(bytes.data(), int(bytes.size()));
    else
        picture = m_seen.value(key, m_held.value(key));
    if (!picture.isEmpty())
        m_seen.insert(key, picture);
    return picture;
}

void PictureCache::finishAnswer(bool complete)
{
    if (complete) {
        m_held.swap(m_seen);
    } else {
        for (auto it = m_seen.cbegin(); it != m_seen.cend(); ++it)
            m_held.insert(it.key(), it.value());
    }
    m_seen.clear();
}

} // namespace ostrel
