// The window's pictures, drawn by the program: the four 32 x 32 drive
// pictures of ImageList1 (1 grey: no drive, 2 yellow: attached, 3 red:
// failed, 4 green: passed) and the fixed picture of Image1.
#pragma once

#include <QColor>
#include <QPixmap>
#include <QSize>

namespace ufd {

inline constexpr int kPictureNoDrive = 1;
inline constexpr int kPictureAttached = 2;
inline constexpr int kPictureFailed = 3;
inline constexpr int kPicturePassed = 4;

// Body colour of picture 1..4; an invalid colour for any other number.
QColor DriveBodyColour(int picture);
// The 32 x 32 picture; a null pixmap for a number outside 1..4.
QPixmap DrivePicture(int picture);
// What the picture means, for printed reports: grey, yellow, red, green (the
// English source of the words --batch prints; TrStation shows them).
const char* DrivePictureName(int picture);
QPixmap StationEmblem(QSize size);

} // namespace ufd
