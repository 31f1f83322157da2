#pragma once
// The target file: the editor text stored as CP932 with CR LF line ends,
// read and written whole. The editor side of the text uses "\n".

#include "base/Clock.h"
#include "targets/ParameterFile.h"
#include "targets/RunParameters.h"

#include <QString>

namespace tarvok {

struct TargetFileRead {
    // Refused: another user's link, no regular file or too large; `error` is
    // then the message for the operator.
    enum Status { Ok, NotFound, Unreadable, Refused };
    Status status = Ok;
    QString text;               // the editor text, lines separated by "\n"
    int invalidCount = 0;       // byte sequences that are no CP932, each shown as U+FFFD
    int firstInvalidLine = 0;   // 1-based line and column of the first one (0 when none)
    int firstInvalidColumn = 0;
    QString error;              // Unreadable: why (for diagnostics)
    bool utf8 = false;          // read as UTF-8 (it will be saved as CP932)

    bool ok() const { return status == Ok; }
    bool hasInvalidBytes() const { return invalidCount > 0; }
};

// Reads the whole file. CR LF, lone LF and lone CR all end a line. A file in
// UTF-8 (see text::decodeFileText) is read as such. Bytes that are no CP932
// do not stop the reading: each becomes U+FFFD, the rest of the text is kept,
// and the count and first place are reported.
TargetFileRead readTargetFile(const QString& path);

struct TargetFileWrite {
    enum Status { Ok, Unrepresentable, CannotCreate };
    Status status = Ok;
    QString message;            // what to show the operator when not Ok
    int line = 0;               // Unrepresentable: where the first such character is
    int column = 0;
    QString character;          // Unrepresentable: that character

    bool ok() const { return status == Ok; }
};

// Writes the editor text as CP932 with every line end turned into CR LF,
// atomically: a failed write leaves an existing file as it was. Text holding
// a character the code page cannot represent is refused (nothing is
// written) instead of being saved with "?" in its place.
TargetFileWrite writeTargetFile(const QString& path, const QString& editorText);

// Operator messages for the target file.
QString cannotCreateMessage(const QString& path);   // "ファイル %s を作成できません"
QString cannotOpenMessage(const QString& path);     // "ファイル %s は開けません"
// Tells the operator that a file was read with bytes that are no CP932.
QString invalidBytesMessage(const QString& path, const TargetFileRead& read);

// The editor text with every line end as CR LF, and back to "\n".
QString toCrLf(const QString& editorText);
QString toEditorText(const QString& fileText);

// "Tarvok - " followed by the name part of the target file.
QString captionFor(const QString& targetFile);

// ---------------------------------------------------------------------------
// The file commands over the editor text, in their order of steps, without
// any window: the main window implements TargetDocumentHost and calls
// TargetDocument from its menu handlers, after its own file dialogs.

enum class SaveAnswer { Yes, No, Cancel };

class TargetDocumentHost {
public:
    virtual ~TargetDocumentHost() = default;
    virtual QString editorText() const = 0;              // lines separated by "\n"
    virtual void setEditorText(const QString& text) = 0;
    virtual bool editorModified() const = 0;
    virtual void setEditorModified(bool modified) = 0;
    virtual RunParameters runParameters() const = 0;     // the controls' current values
    virtual void setRunParameters(const RunParameters& params) = 0;
    virtual void setCaption(const QString& caption) = 0;
    // "保存確認": the text has changed; save it first?
    virtual SaveAnswer askSaveChanges() = 0;
    virtual void showError(const QString& message) = 0;
    virtual void showWarning(const QString& message) = 0;
    virtual void showTargetPage() = 0;                   // the 対象 page
    virtual bool saveConfig() const = 0;                 // preference SaveConfig
};

class TargetDocument {
public:
    TargetDocument(TargetDocumentHost& host, QString targetFile, Clock& clock = Clock::system());

    const QString& currentTargetFile() const { return current_; }
    // The command line names it at start-up.
    void setCurrentTargetFile(const QString& path) { current_ = path; }

    // Start-up: loads the editor from the target file (an unreadable or
    // missing file leaves it empty, silently), clears the modified mark and
    // reads the parameters. Returns false when the parameter file holds an
    // error, which has then been shown; the caller skips its later steps.
    bool loadAtStartup();

    // Sets the caption and applies the parameter file when there is one.
    ParameterFileResult readParameters();
    // Writes the parameter file of the current target file; failures are
    // ignored.
    void writeParameters();

    // Returns whether the caller may replace or discard the text: asks when
    // it is modified, and saves on Yes (a failed save answers false).
    bool checkModified();

    // Open, after the open dialog chose `path`. Returns true when the file
    // was loaded with its parameters. Errors end the command silently.
    bool open(const QString& path);
    // Save to the current target file; the parameter file too when
    // SaveConfig is on. Shows the error and returns false on failure.
    bool save();
    // Save as, after the save dialog chose `path`. The parameter file is not
    // written here.
    bool saveAs(const QString& path);
    // A file dropped on the window (the first one of a drop).
    bool drop(const QString& path);
    // End of program: the parameter file when SaveConfig is on.
    void endOfProgram();

private:
    bool writeText(const QString& path);
    void warnAboutText(const QString& path, const TargetFileRead& read);

    TargetDocumentHost& host_;
    QString current_;
    Clock& clock_;
};

} // namespace tarvok
