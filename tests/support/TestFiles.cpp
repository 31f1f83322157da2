#include "support/TestFiles.h"

#include "base/Cp932.h"

#include <QFile>
#include <gtest/gtest.h>

namespace tarvok::test {

QByteArray readBytes(const QString& path)
{
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

void writeBytes(const QString& path, const QByteArray& bytes)
{
    QFile f(path);
    if (!f.open(QIODevice::WriteOnly | QIODevice::Truncate) || f.write(bytes) != bytes.size())
        ADD_FAILURE() << "cannot write " << path.toStdString();
}

QByteArray cp932(const QString& text)
{
    return text::encodeCp932(text).bytes;
}

} // namespace tarvok::test
