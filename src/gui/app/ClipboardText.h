// The clipboard's text, read on the GUI thread.
#pragma once

#include <QString>

namespace tamblin {

// The clipboard's plain text up to its first NUL; empty when the clipboard
// holds no text (an image, other data) or cannot be read.
QString ReadClipboardText();

} // namespace tamblin
