#pragma once
// TKtBrowseFolderDlg: a modal folder picker with a prompt above the folder
// view and, optionally, a status line showing the folder highlighted.
//
//   TKtBrowseFolderDlg dlg;
//   dlg.TextLine1 = "...";
//   dlg.Directory = start;              // preselected folder (may be empty)
//   if (dlg.Execute(parent)) use(dlg.Directory);
//
// The picker is centred on the screen and shows folders only. Directory holds
// the chosen folder on return, without a trailing "/" (except the root).

#include "base/Texts.h"

#include <QString>

class QWidget;

namespace tarvok {

class TKtBrowseFolderDlg {
public:
    QString Caption = texts::BrowseFolder();
    QString TextLine1;
    QString TextLine2;       // shown under TextLine1 when set
    QString Directory;       // in: initial selection; out: the chosen folder
    bool ShowSelectDir = true;

    // Runs the picker modally. True when a folder was chosen (then Directory
    // holds it); false on Cancel, leaving Directory unchanged.
    bool Execute(QWidget* parent);
};

} // namespace tarvok
