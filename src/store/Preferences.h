#pragma once
// The operator's preferences: the in-memory record of section [Tarvok] of the
// settings file, one field per key, named and typed as the key.

#include <QString>

namespace tarvok {

struct Preferences {
    bool BlinkTrayIcon = true;
    bool LogTrace = false;
    QString LogDirectory;            // default: the program folder with a trailing "/"
    QString FixedLogFileName = QStringLiteral("Tarvok.log");
    bool UseLogFileDate = false;
    QString LogFileNameHead = QStringLiteral("TK");
    QString LogFileNameExt = QStringLiteral("LOG");
    bool AutoDelete = true;
    int AutoDeleteCount = 1000;
    bool HideOnTaskBar = false;
    bool NGChangeIcon = true;
    bool SaveConfig = true;
    bool SaveAsCsv = true;
    bool NGPopup = false;
    bool NGCommandExec = false;
    bool NGSound = false;
    QString NGCommand;
    QString NGCommandOption;
    QString NGCommandWorkDir;
    QString NGSoundFile;
    bool NGCheckAddress = true;
    bool NGCheckBefore = true;
    bool CheckRTT = false;
    int CheckRTTValue = 500;
    bool OKCommandExec = false;
    bool OKSound = false;
    QString OKSoundFile;
    bool OKPopup = false;
    QString OKCommand;
    QString OKCommandOption;
    QString OKCommandWorkDir;
    bool OKCheckBefore = true;
    bool ResetOKFlag = false;
    bool ResetNGFlag = false;
    bool UseNGPassCount = false;
    int NGPassCount = 1;
    bool DontFlagment = false;
    bool ContinuationNGCount = false;
    // Echoes of a ping run that may wait for their answers at once (1..1024);
    // 1 sends each echo after the previous one has ended.
    int MaxEchoesInFlight = 1;
    // The lasting history (history.sqlite in the program folder): on or off,
    // days of raw echoes (and of their minute summaries), days of hour
    // summaries and outages.
    bool HistoryEnabled = true;
    int HistoryRawDays = 14;
    int HistorySummaryDays = 400;
    QString MetricsListen;           // "[ADDRESS:]PORT" of the metrics endpoint; empty: off
    // A target name with both IPv4 and IPv6 addresses is pinged and traced
    // at its IPv6 address.
    bool PreferIPv6 = false;

    bool operator==(const Preferences&) const = default;
};

} // namespace tarvok
