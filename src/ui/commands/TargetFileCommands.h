#pragma once
// The target-file commands of the main window: Open, Save, Save as, files
// dropped on the window, the prompt that protects unsaved edits, and the
// parameter file kept beside the target file. The order of their steps is
// TargetDocument's; this class gives it the window (editor, controls,
// caption) and the dialogs.
//
// The editor text belongs to currentTargetFile(). Its modified mark is the
// editor document's own (QTextDocument::isModified). The run parameters of the
// text live in the controls of the tab 環境; Read parameters puts the
// parameter file's values into them (the spin fields clamp), Write parameters
// stores the controls' current values.
//
// Dialogs and message boxes go through the hooks of Dialogs, so that tests
// answer them without a modal dialog.

#include "targets/ParameterFile.h"
#include "targets/RunParameters.h"
#include "targets/TargetFile.h"

#include <QMessageBox>
#include <QObject>
#include <QString>
#include <QStringList>

#include <functional>
#include <memory>

class QWidget;

namespace tarvok {

class TTarvokMain;

class TargetFileCommands : public QObject, private TargetDocumentHost {
    Q_OBJECT
public:
    struct Dialogs {
        // The open dialog: the chosen file, or empty when cancelled.
        std::function<QString(QWidget* parent, const QString& startFolder)> openFile;
        // The save-as dialog: the chosen file, or empty when cancelled.
        std::function<QString(QWidget* parent, const QString& startFolder)> saveFile;
        // The prompt "保存確認": Yes, No or Cancel.
        std::function<QMessageBox::StandardButton(QWidget* parent, const QString& title, const QString& text)> ask;
        // An error message (critical icon).
        std::function<void(QWidget* parent, const QString& text)> error;
        // A warning that does not stop anything (text read with invalid bytes).
        std::function<void(QWidget* parent, const QString& text)> warning;
    };
    // The real dialogs and message boxes.
    static Dialogs standardDialogs();

    static constexpr const char* kAskTitle = "保存確認";
    static QString askText();
    static QString openTitle();   // "対象アドレスを開く"
    static QString saveTitle();   // "対象アドレスの保存"
    static QString fileFilter();  // "テキストファイル(*.txt);;すべてのファイル(*)"

    // Binds to the window: its Open/Save/Save-as menu items and toolbar
    // buttons, and file drops anywhere on the window.
    explicit TargetFileCommands(TTarvokMain& window, QObject* parent = nullptr);
    ~TargetFileCommands() override;

    Dialogs& dialogs() { return dialogs_; }
    void setDialogs(Dialogs d) { dialogs_ = std::move(d); }

    QString currentTargetFile() const { return doc_->currentTargetFile(); }
    // Sets the path as given (start-up: the default or the command line's).
    void setCurrentTargetFile(const QString& path) { doc_->setCurrentTargetFile(path); }

    bool modified() const;
    void setModified(bool on);
    // The editor's text as it stands, saved or not.
    QString currentText() const { return editorText(); }
    // Unsaved text kept from an earlier end goes into the editor, marked
    // modified; the target file and the caption stay.
    void loadRecoveredText(const QString& text);

    // --- Commands ---------------------------------------------------------
    void Open();
    // Writes the editor text to currentTargetFile, then (SaveConfig) the
    // parameter file. False when the text could not be written (the operator
    // has been told; the mark stays set).
    bool Save();
    // False when cancelled or when the file could not be written.
    bool SaveAs();
    // Files dropped on the window; only the first counts.
    void FileDrop(const QStringList& files);
    // True when the caller may replace or discard the editor text (asks, and
    // may save first).
    bool CheckModified();

    // --- Parameter file ---------------------------------------------------
    // Caption "Tarvok - <name>", then the parameter file's values into the
    // controls. The result tells the caller about a value that is no
    // integer or a file that cannot be read (message in .message).
    ParameterFileResult ReadParameters();
    // The controls' current values into the parameter file of
    // currentTargetFile. A failure is ignored.
    void WriteParameters();

    // --- Start-up and end -------------------------------------------------
    // Loads the editor text from currentTargetFile (a file that cannot be
    // read leaves the editor empty), clears the modified mark and reads the
    // parameters. False when the parameter file holds an error, which has
    // been shown through dialogs().error.
    bool LoadAtStartup();
    // End of program: the parameter file when SaveConfig is on.
    void EndOfProgram();

    // The run parameters as the controls hold them now, and back.
    RunParameters currentParameters() const;
    void applyParameters(const RunParameters& params);

    // "Tarvok - " + the name part of currentTargetFile.
    QString caption() const;

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void acceptDropsOn(QObject* widget);
    static QStringList droppedFiles(const QEvent* event);

    // TargetDocumentHost: the window as the commands see it.
    QString editorText() const override;
    void setEditorText(const QString& text) override;
    bool editorModified() const override { return modified(); }
    void setEditorModified(bool modified) override { setModified(modified); }
    RunParameters runParameters() const override { return currentParameters(); }
    void setRunParameters(const RunParameters& params) override { applyParameters(params); }
    void setCaption(const QString& caption) override;
    SaveAnswer askSaveChanges() override;
    void showError(const QString& message) override;
    void showWarning(const QString& message) override;
    void showTargetPage() override;
    bool saveConfig() const override;

    TTarvokMain& w_;
    Dialogs dialogs_;
    std::unique_ptr<TargetDocument> doc_;
};

} // namespace tarvok
