#include "targets/TargetFile.h"

#include "base/AtomicFile.h"
#include "base/Cp932.h"
#include "base/Texts.h"

#include "base/SafeOpen.h"

#include <QFile>
#include <QFileInfo>

namespace tarvok {

namespace {

// Replaces CR LF, lone CR and lone LF by `eol`, one for one.
QString normaliseLineEnds(const QString& s, QStringView eol)
{
    QString out;
    out.reserve(s.size() + s.size() / 16);
    const qsizetype n = s.size();
    for (qsizetype i = 0; i < n; ++i) {
        const QChar c = s.at(i);
        if (c == u'\r') {
            if (i + 1 < n && s.at(i + 1) == u'\n')
                ++i;
            out += eol;
        } else if (c == u'\n') {
            out += eol;
        } else {
            out += c;
        }
    }
    return out;
}

} // namespace

QString toCrLf(const QString& editorText)
{
    return normaliseLineEnds(editorText, u"\r\n");
}

QString toEditorText(const QString& fileText)
{
    return normaliseLineEnds(fileText, u"\n");
}

QString cannotCreateMessage(const QString& path)
{
    return texts::CannotCreateFile().arg(path);
}

QString cannotOpenMessage(const QString& path)
{
    return texts::CannotOpenFile().arg(path);
}

QString invalidBytesMessage(const QString& path, const TargetFileRead& read)
{
    return QStringLiteral("ファイル %1 には文字として読めないバイトが %2 箇所あります"
                          "（最初は %3 行目 %4 文字目）。\n読めない部分は「\uFFFD」で表示しています。")
        .arg(path)
        .arg(read.invalidCount)
        .arg(read.firstInvalidLine)
        .arg(read.firstInvalidColumn);
}

TargetFileRead readTargetFile(const QString& path)
{
    TargetFileRead r;
    FileBytes read = readRegularFile(path, kMaxTargetFileBytes);
    if (read.status != FileBytes::Ok) {
        r.status = read.status == FileBytes::Refused ? TargetFileRead::Refused
                   : read.status == FileBytes::NotFound ? TargetFileRead::NotFound
                                                        : TargetFileRead::Unreadable;
        r.error = read.error;
        return r;
    }
    const QByteArray bytes = std::move(read.bytes);
    const text::Decoded d = text::decodeFileText(bytes);
    r.text = toEditorText(d.text);
    r.utf8 = d.utf8;
    r.invalidCount = d.invalidCount;
    if (d.invalidCount > 0) {
        // CP932 has no U+FFFD of its own, so the first one marks the first
        // invalid byte.
        const text::TextPosition pos = text::positionOf(r.text, r.text.indexOf(QChar(0xFFFD)));
        r.firstInvalidLine = pos.line;
        r.firstInvalidColumn = pos.column;
    }
    return r;
}

TargetFileWrite writeTargetFile(const QString& path, const QString& editorText)
{
    TargetFileWrite w;
    const text::Encoded e = text::encodeCp932(toCrLf(editorText));
    if (!e.ok()) {
        // Report the place in the editor's own text: the index into the CR LF
        // text differs by one for every line before it.
        const QString crlf = toCrLf(editorText);
        const text::TextPosition pos = text::positionOf(crlf, e.firstUnmappable);
        const qsizetype at = e.firstUnmappable;
        const bool pair = crlf.at(at).isHighSurrogate() && at + 1 < crlf.size() && crlf.at(at + 1).isLowSurrogate();
        w.status = TargetFileWrite::Unrepresentable;
        w.character = crlf.mid(at, pair ? 2 : 1);
        w.line = pos.line;
        w.column = pos.column;
        const char32_t code = w.character.toUcs4().value(0);
        w.message = QStringLiteral("%1 行目 %2 文字目の文字 '%3' (U+%4) はファイルの文字コードで表せないため、"
                                   "ファイル %5 を保存できません。\nこの文字を削除するか別の文字に置き換えてから"
                                   "保存してください。")
                        .arg(w.line)
                        .arg(w.column)
                        .arg(w.character)
                        .arg(QString::number(code, 16).toUpper().rightJustified(4, u'0'))
                        .arg(path);
        return w;
    }
    QString why;
    bool refused = false;
    if (!writeFileAtomic(path, e.bytes, &why, NewFileMode::FollowUmask, &refused)) {
        w.status = TargetFileWrite::CannotCreate;
        w.message = refused ? cannotCreateMessage(path) + u'\n' + why : cannotCreateMessage(path);
    }
    return w;
}

} // namespace tarvok

namespace tarvok {

QString captionFor(const QString& targetFile)
{
    return QStringLiteral("Tarvok - ") + QFileInfo(targetFile).fileName();
}

TargetDocument::TargetDocument(TargetDocumentHost& host, QString targetFile, Clock& clock)
    : host_(host), current_(std::move(targetFile)), clock_(clock)
{
}

void TargetDocument::warnAboutText(const QString& path, const TargetFileRead& read)
{
    if (read.utf8)
        host_.showWarning(text::utf8FileMessage(path));
    if (read.hasInvalidBytes())
        host_.showWarning(invalidBytesMessage(path, read));
}

bool TargetDocument::loadAtStartup()
{
    const TargetFileRead r = readTargetFile(current_);
    if (r.ok()) {
        host_.setEditorText(r.text);
    }
    if (r.status == TargetFileRead::Refused)
        host_.showWarning(r.error);
    host_.setEditorModified(false);
    if (r.ok())
        warnAboutText(current_, r);
    const ParameterFileResult p = readParameters();
    if (p.failed()) {
        host_.showError(p.message);
        return false;
    }
    return true;
}

ParameterFileResult TargetDocument::readParameters()
{
    host_.setCaption(captionFor(current_));
    RunParameters params = host_.runParameters();
    const QString path = parameterFilePath(current_);
    const ParameterFileResult r = readParameterFile(path, params);
    if (r.utf8)
        host_.showWarning(text::utf8FileMessage(path));
    // Values read before an error stay applied.
    if (r.status == ParameterFileResult::Read || r.status == ParameterFileResult::NotInteger)
        host_.setRunParameters(params);
    return r;
}

void TargetDocument::writeParameters()
{
    writeParameterFile(parameterFilePath(current_), current_, host_.runParameters(), clock_.localNow());
}

bool TargetDocument::writeText(const QString& path)
{
    const TargetFileWrite w = writeTargetFile(path, host_.editorText());
    if (!w.ok()) {
        host_.showError(w.message);
        return false;
    }
    return true;
}

bool TargetDocument::checkModified()
{
    if (!host_.editorModified())
        return true;
    switch (host_.askSaveChanges()) {
    case SaveAnswer::Yes:
        return save();
    case SaveAnswer::No:
        return true;
    case SaveAnswer::Cancel:
        break;
    }
    return false;
}

bool TargetDocument::open(const QString& path)
{
    if (!checkModified())
        return false;
    const TargetFileRead r = readTargetFile(path);
    if (r.status == TargetFileRead::Refused)
        host_.showError(r.error);
    if (!r.ok())
        return false; // missing or unreadable: nothing changes, no message
    host_.setEditorText(r.text);
    current_ = path;
    warnAboutText(path, r);
    if (readParameters().failed())
        return false; // swallowed; the modified mark stays as it is
    host_.setEditorModified(false);
    return true;
}

bool TargetDocument::save()
{
    if (!writeText(current_))
        return false;
    if (host_.saveConfig())
        writeParameters();
    host_.setEditorModified(false);
    return true;
}

bool TargetDocument::saveAs(const QString& path)
{
    if (!writeText(path))
        return false;
    host_.setEditorModified(false);
    current_ = path;
    host_.setCaption(captionFor(current_));
    return true;
}

bool TargetDocument::drop(const QString& path)
{
    if (host_.saveConfig())
        writeParameters();
    if (!checkModified())
        return false;
    const TargetFileRead r = readTargetFile(path);
    if (!r.ok()) {
        host_.showError(r.status == TargetFileRead::Refused ? r.error : cannotOpenMessage(path));
        return false;
    }
    host_.setEditorText(r.text);
    current_ = path;
    warnAboutText(path, r);
    const ParameterFileResult p = readParameters();
    if (p.failed()) {
        host_.showError(p.message);
        return false;
    }
    host_.setEditorModified(false);
    host_.showTargetPage();
    return true;
}

void TargetDocument::endOfProgram()
{
    if (host_.saveConfig())
        writeParameters();
}

} // namespace tarvok
