// A target file as the program reads it (code page 932, any line ends) and
// the target list parsed from its lines. Every line that is neither blank nor
// a comment gives exactly one entry, entries hold no stray blanks, and the
// list written back as "address comment" lines parses to the same list.

#include "FuzzSupport.h"
#include "targets/TargetFile.h"
#include "targets/TargetList.h"

#include <sys/mman.h>
#include <unistd.h>

using namespace tarvok;

namespace {

bool isTrimmed(const QString& s)
{
    return s.isEmpty() || (s.front().unicode() > 0x20 && s.back().unicode() > 0x20);
}

// The file lives in memory; the reader opens it by its /proc path.
struct MemoryFile {
    int fd = ::memfd_create("fuzz_target_list", MFD_CLOEXEC);
    QString path = QStringLiteral("/proc/self/fd/%1").arg(fd);
    void replace(const uint8_t* data, size_t size)
    {
        FUZZ_CHECK(::ftruncate(fd, 0) == 0);
        FUZZ_CHECK(::pwrite(fd, data, size, 0) == static_cast<ssize_t>(size));
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
