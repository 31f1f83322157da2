#pragma once
// The ヘルプ menu's address: the web address the build names, or else the
// user guide installed with the program, or else the guide or README of the
// source tree beside a build.

#include <QString>

namespace tarvok {

// A URL (a file: URL for the guide), or empty when there is nothing to open.
QString HomePageAddress();
// The same for a program in `programDir`: the guide installed beside it
// (<prefix>/share/doc/tarvok/ for <prefix>/bin/) comes first, wherever the
// package or "cmake --install" put the program.
QString HomePageAddress(const QString& programDir);

} // namespace tarvok
