#pragma once
// The window's icon lists, drawn in code: ImageList1 (lists, trace tree,
// tray icon) and ButtonImage (toolbar). Every icon is 16 x 16 pixels on a
// transparent background.

#include <QIcon>
#include <QList>
#include <QPixmap>

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

// The icon lists; built on first use (needs a QGuiApplication).
const QList<QPixmap>& ImageList1();
const QList<QPixmap>& ButtonImage();

// Icon of a list index, or a null icon for an index outside the list (-1:
// no image).
QIcon listIcon(int index);
QIcon buttonIcon(int index);

// Draws the lists afresh (for tests and the look at them).
QList<QPixmap> drawImageList1();
QList<QPixmap> drawButtonImage();

} // namespace tarvok
