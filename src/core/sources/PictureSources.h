// The Sina picture extractors: each lists the pictures of one album (or blog
// article) of the current sub-mode and hands every one to AddPictureJob, on
// the download thread. They end their listing when m_downState becomes 2
// (the skip rule) or 3 (stop asked), and report nothing themselves.
#pragma once

namespace tamblin {

class TamblinCore;

// The pages "<albumUrl>/page<n>" of a Sina photo album, full-size pictures.
void ListSinaPhotoPictures(TamblinCore &core, int albumIndex);
// The first picture in the body of a Sina blog article, named after the
// article.
void ListSinaBlogPictures(TamblinCore &core, int albumIndex);
// The photo pages of a Weibo album, 32 photos a page.
void ListWeiboPictures(TamblinCore &core, int albumIndex);

// Registers the three with the download driver; front ends call it once at
// start-up.
void RegisterPictureExtractors();

} // namespace tamblin
