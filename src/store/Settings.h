#pragma once
// The settings file: section [Placement] (main window placement and the
// column widths of the result and statistics lists) and section [Tarvok]
// (the Preferences record). Window placement and column widths are plain
// data here; the main window applies and collects them.

#include "store/IniFile.h"
#include "store/Preferences.h"

#include <QList>
#include <QRect>
#include <QSize>
#include <QString>
#include <QStringList>

namespace tarvok {

inline constexpr const char* kPlacementSection = "Placement";
inline constexpr const char* kPreferencesSection = "Tarvok";
inline constexpr const char* kDefaultColumn1 = "45,120,80,80,110,200";
inline constexpr const char* kDefaultColumn2 = "120,70,70,70,70,70,70,70";
// Width given to a list column whose stored item is no integer.
inline constexpr int kFallbackColumnWidth = 50;

struct Placement {
    int left = 0;
    int top = 0;
    int width = 0;
    int height = 0;
    bool maximized = false;   // the four values above are the restored bounds

    bool operator==(const Placement&) const = default;
};

// Reads [Placement]. Missing or non-integer values give the defaults: the
// window keeps `windowSize` and is centred on `screenSize`
// (left = (screen width - window width) div 2, truncating toward zero).
// Left and Top are computed with the window's size before the stored Width
// and Height are applied, as the window applies each value as it is read.
Placement loadPlacement(const IniFile& ini, QSize screenSize, QSize windowSize);
// A placement from the file that does not fit on the screens (given by their
// usable areas; a window spanning two screens fits) comes back onto the
// primary screen: its size cut to that screen's, then moved just as far as
// needed to lie on it. A placement that fits is returned as it is.
Placement fitPlacement(const Placement& placement, const QList<QRect>& screens, const QRect& primary);
// Writes [Placement]: when maximised only Maximized=1 (the stored restored
// bounds stay); otherwise Left, Top, Width, Height, then Maximized=0.
void savePlacement(IniFile& ini, const Placement& placement);

// Splits a stored width list into items: leading blanks and control
// characters are skipped; an item runs to the next comma or blank, or, when
// it starts with a double quote, to the closing quote (a doubled quote
// stands for one); after an item, blanks and one comma with the blanks after
// it are consumed. "a,,300" gives "a", "", "300"; a trailing comma gives no
// extra item.
QStringList splitWidthList(const QString& text);
// Applies a stored width list to the current widths: item i sets width i to
// its integer value, or 50 when it is no integer; items beyond the last
// column are ignored; columns without an item keep their width.
QList<int> applyWidthList(const QString& text, QList<int> currentWidths);
// "45,120,80" style: decimal, joined by ",", no blanks.
QString formatWidthList(const QList<int>& widths);

// Column1 (result list) and Column2 (statistics list).
QList<int> loadResultColumnWidths(const IniFile& ini, const QList<int>& currentWidths);
QList<int> loadStatColumnWidths(const IniFile& ini, const QList<int>& currentWidths);
void saveColumnWidths(IniFile& ini, const QList<int>& resultWidths, const QList<int>& statWidths);

// Reads section [Tarvok] with the defaults; LogDirectory defaults to
// `programDir` with a trailing "/".
Preferences loadPreferences(const IniFile& ini, const QString& programDir);
// Writes every key of section [Tarvok] (on a fresh file they appear in the
// save order).
void savePreferences(IniFile& ini, const Preferences& prefs);

// The choices of the latency graph's time window.
constexpr int kGraphTimeWindows = 7;

// What the main window hands over at start-up and gets back.
struct WindowLayout {
    Placement placement;
    QList<int> resultColumnWidths;   // the six result-list columns
    QList<int> statColumnWidths;     // the eight statistics-list columns
    // The latency graph's time window, [Graph] TimeWindow (0 = 5分, 1 = 30分,
    // 2 = 2時間, 3 = 全体, 4 = 1日, 5 = 7日, 6 = 30日); -1: none stored, and
    // none to write.
    int graphTimeWindow = -1;

    bool operator==(const WindowLayout&) const = default;
};

struct LoadedSettings {
    WindowLayout layout;
    Preferences preferences;
    QString error;   // an existing file that could not be read; empty normally
    QString notice;  // the file was read as UTF-8 and will be saved as CP932
};

// Start-up: reads the settings file at `iniPath`. A missing file, section or
// key gives the defaults without a message. `currentColumnWidths` supplies
// the widths of columns that have no stored item.
LoadedSettings loadSettings(const QString& iniPath, const QString& programDir, QSize screenSize,
                            QSize windowSize, const QList<int>& currentResultWidths,
                            const QList<int>& currentStatWidths);

// Shutdown: re-reads the file (so sections other parts of the program have
// written meanwhile are kept), writes [Placement] and [Tarvok] and saves it
// atomically. On failure returns false with *error = "<path> に書き込めません";
// the old file is left as it was.
bool saveSettings(const QString& iniPath, const WindowLayout& layout, const Preferences& prefs,
                  QString* error = nullptr);

} // namespace tarvok
