#pragma once
// The window's icon lists: ImageList1 (lists, trace tree, tray icon) and
// ButtonImage (toolbar), and the application icon. The pictures are SVG
// files compiled into the program (src/ui/resources, prefix ":/icons"),
// drawn on a 16-pixel grid so that they are sharp at 16 x 16 and at any
// whole device pixel ratio.

#include <QIcon>
#include <QList>
#include <QPixmap>
#include <QString>
#include <functional>

namespace tarvok {

// Indices into ImageList1.
enum ListImage : int {
    imgComputer = 0,        // computer, blue screen
    imgOK = 1,              // blue ring
    imgNG = 2,              // red cross
    imgTray = 3,            // magenta tulip
    imgTrayBlink = 4,       // cyan tulip
    imgTrayNG = 5,          // red tulip
    imgTrayNGBlink = 6,     // black tulip
    imgNetwork = 7,         // network diagram
    imgComputerWaiting = 8, // computer, grey screen
    imgComputerTracing = 9, // computer, red screen
    imgRedBall = 10,        // red ball
    ListImageCount = 11
};

// Indices into ButtonImage.
enum ButtonImageIndex : int {
    biExit = 0,       // window with an arrow
    biOpen = 1,       // folder
    biSave = 2,       // floppy disk
    biSaveResult = 3, // sheet with an arrow
    biPing = 4,       // ring of computers
    biBreak = 5,      // computers crossed out
    biClear = 6,      // sheet with a sparkle
    biVersion = 7,    // tulip
    biOption = 8,     // sheet with a tool
    biTrace = 9,      // network diagram
    ButtonImageCount = 10
};

// The icon lists as 16 x 16 pixmaps at the device pixel ratio of the
// application (needs a QGuiApplication); built on first use.
const QList<QPixmap>& ImageList1();
const QList<QPixmap>& ButtonImage();

// Icon of a list index, with pictures for 16 x 16 at ratios 1 to 4 and for
// larger sizes; a null icon for an index outside the list (-1: no image).
QIcon listIcon(int index);
// The 16 x 16 picture of a list index, the same when its item is selected
// (the trace tree's nodes).
QIcon listIconSameWhenSelected(int index);
QIcon buttonIcon(int index);

// The application icon (the tulip): window, tray, version box. Small sizes
// use the 16-pixel picture, larger ones the detailed artwork.
QIcon appIcon();

// Resource paths of the pictures; empty outside the list.
QString listImageFile(int index);
QString buttonImageFile(int index);
QString appIconFile();

// An icon that calls `build` for its pictures when it is first asked for
// one (sizes, a picture, painting) and from then on is that icon. The icons
// above are made so: a window never shown draws none of them.
QIcon deferredIcon(std::function<QIcon()> build);

// Renders an SVG resource into a square pixmap of size logical pixels at
// the given device pixel ratio; a null pixmap when the file does not load.
QPixmap renderImage(const QString& file, int size, qreal ratio = 1.0);

} // namespace tarvok
