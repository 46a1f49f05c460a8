// Sina blog articles (blog.sina.com.cn): the articles of a blog, one album
// each, and the picture of one article.
#pragma once

#include <QString>

#include <atomic>
#include <cstdint>

namespace tamblin {

class TamblinCore;

// The articles of a Sina blog, one album each. `address` is an article-list
// address cut before its last "_"; pages are address + "_<n>.html". Sets
// m_userFolder.
void ListSinaBlogArticles(TamblinCore &core, const QString &address);
// The first picture in the body of a Sina blog article, named after the
// article.
void ListSinaBlogPictures(TamblinCore &core, int albumIndex);
// An article's cover in the preview view, which the article list does not
// give: the address of the picture its download gives, or an empty text.
// One fetch of the article page, ended early when `cancel` becomes true.
QString SinaBlogArticleCover(const QString &articleUrl, std::uint32_t stepTimeoutMs, std::uint32_t totalTimeoutMs,
                             const std::atomic<bool> *cancel = nullptr);

} // namespace tamblin
