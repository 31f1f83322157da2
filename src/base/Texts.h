#pragma once
// Texts that the program shows in more than one place, each written once.
// The ones used in a single place stay where they are used.

#include <QString>

namespace tarvok::texts {

// Status bar, at the end of a run of either kind.
inline QString RunEnded() { return QStringLiteral("終了しました。"); }
// Status bar, when the target list holds no address.
inline QString NoTargetAddress() { return QStringLiteral("対象アドレスが１件もありません。"); }
// Run errors.
inline QString EngineBusy() { return QStringLiteral("ICMP エンジンが他の処理を実行中です。"); }
inline QString UnexpectedError() { return QStringLiteral("予期しないエラーが発生しました。"); }
// File errors; %1 is the path.
inline QString CannotCreateFile() { return QStringLiteral("ファイル %1 を作成できません"); }
inline QString CannotOpenFile() { return QStringLiteral("ファイル %1 は開けません"); }
// Dialog captions and buttons.
inline QString Cancel() { return QStringLiteral("キャンセル"); }
inline QString BrowseFolder() { return QStringLiteral("フォルダの参照"); }

} // namespace tarvok::texts
