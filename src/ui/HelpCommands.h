#pragma once
// The ヘルプ menu's address: the web address the build names, or else the
// user guide installed with the program, or else the guide or README of the
// source tree beside a build.

#include <QString>

namespace tarvok {

// A URL (a file: URL for the guide), or empty when there is nothing to open.
QString HomePageAddress();

} // namespace tarvok
