// Sina blog articles (blog.sina.com.cn): the articles of a blog, one album
// each, and the picture of one article.
#pragma once

#include <QString>

namespace tamblin {

class TamblinCore;

// The articles of a Sina blog, one album each. `address` is an article-list
// address cut before its last "_"; pages are address + "_<n>.html". Sets
// m_userFolder.
void ListSinaBlogArticles(TamblinCore &core, const QString &address);
// The first picture in the body of a Sina blog article, named after the
// article.
void ListSinaBlogPictures(TamblinCore &core, int albumIndex);

} // namespace tamblin
