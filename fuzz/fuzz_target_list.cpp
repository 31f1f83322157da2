// A target file as the program reads it (code page 932, any line ends) and
// the target list parsed from its lines. Every line that is neither blank nor
// a comment gives exactly one entry, entries hold no stray blanks, and the
// list written back as "address comment" lines parses to the same list.

#include "FuzzSupport.h"
#include "targets/TargetFile.h"
#include "targets/TargetList.h"

#include <fcntl.h>
#include <cstdlib>
#include <unistd.h>

using namespace tarvok;

namespace {

bool isTrimmed(const QString& s)
{
    return s.isEmpty() || (s.front().unicode() > 0x20 && s.back().unicode() > 0x20);
}

// One scratch file, rewritten for every input and opened by its name as
// the program opens a target file (a /proc/self/fd link would lead to a
// file that has no name, which the reader rightly cannot open).
struct MemoryFile {
    QByteArray name = [] {
        QByteArray n = "/tmp/fuzz_target_list.XXXXXX";
        const int fd = ::mkstemp(n.data());
        FUZZ_CHECK(fd >= 0);
        ::close(fd);
        return n;
    }();
    QString path = QString::fromLocal8Bit(name);
    ~MemoryFile() { ::unlink(name.constData()); }
    void replace(const uint8_t* data, size_t size)
    {
        const int fd = ::open(name.constData(), O_WRONLY | O_TRUNC | O_CLOEXEC);
        FUZZ_CHECK(fd >= 0);
        FUZZ_CHECK(::write(fd, data, size) == static_cast<ssize_t>(size));
        ::close(fd);
    }
};

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    static MemoryFile file;
    file.replace(data, size);
    const TargetFileRead read = readTargetFile(file.path);
    FUZZ_CHECK(read.ok());
    FUZZ_CHECK(!read.text.contains(u'\r'));
    FUZZ_CHECK((read.invalidCount > 0) == (read.firstInvalidLine > 0));
    FUZZ_CHECK(toEditorText(toCrLf(read.text)) == read.text);

    const QStringList lines = read.text.split(u'\n');
    TargetList list;
    ParseTargetList(lines, list);
    FUZZ_CHECK(list.addresses().size() == list.comments().size());

    int targets = 0;
    for (const QString& l : lines)
        if (!IsCommentLine(TrimBlanks(l)))
            ++targets;
    FUZZ_CHECK(list.count() == targets);

    QStringList written;
    for (int i = 0; i < list.count(); ++i) {
        const TargetEntry e = list.at(i);
        FUZZ_CHECK(!e.Address.isEmpty() && isTrimmed(e.Address) && !e.Address.contains(u' '));
        FUZZ_CHECK(isTrimmed(e.Comment));
        FUZZ_CHECK(!IsCommentLine(e.Address));
        written << (e.Comment.isEmpty() ? e.Address : e.Address + u' ' + e.Comment);
    }
    TargetList again;
    ParseTargetList(written, again);
    FUZZ_CHECK(again.addresses() == list.addresses() && again.comments() == list.comments());
    return 0;
}
