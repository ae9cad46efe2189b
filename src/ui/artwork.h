// The window's images, drawn at run time so that no binary art ships with
// the program. Sizes are those the layout is built around.
#pragma once

#include <QIcon>
#include <QPixmap>

namespace art {

// The window's first size; it may grow from there, and shrink down to the
// smallest size that still shows every button.
inline constexpr int kWindowWidth = 627;
inline constexpr int kWindowHeight = 525;
inline constexpr int kMinWindowWidth = 560;
inline constexpr int kMinWindowHeight = 470;
// The band across the top, where the title and the corner buttons stand.
inline constexpr int kTitleBandHeight = 48;
inline constexpr int kFaceWidth = 108;
inline constexpr int kFaceHeight = 26;
inline constexpr int kCornerSize = 21;
inline constexpr int kMenuImageWidth = 16;
inline constexpr int kMenuImageHeight = 15;
inline constexpr int kMenuImageCount = 15;

// The window's face at its size, with frames around the two lists and a rule
// above the link where there is one.
QPixmap Background(const QSize& size, const QRect& upperList, const QRect& lowerList, bool withLink);
// The command buttons' face, and the one shown under the mouse.
QPixmap ButtonFace(bool hot);
// The corner buttons: 0 help, 1 minimise, 2 close.
QPixmap CornerIcon(int which, bool hot);
// The strip of menu images, fifteen 16 x 15 images side by side.
QPixmap MenuStrip();
QPixmap MenuImage(int index);
QIcon AppIcon();

}  // namespace art
