#pragma once
// What the command line sets for the whole life of the program. Held by the
// main window; the log writer reads commandMode and outputLogFile at every
// line.

#include <QString>

namespace tarvok {

struct StartupOptions {
    bool hideAtStart = false;  // -H: the main window is not shown at start
    bool runAtStart = false;   // -R: a ping run starts once start-up is complete
    bool commandMode = false;  // -C (only with -R): log to outputLogFile, quit after the run
    QString outputLogFile = QStringLiteral("TRVLOG.TXT"); // -O <file>, as typed

    bool operator==(const StartupOptions&) const = default;
};

} // namespace tarvok
