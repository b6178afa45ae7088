#pragma once

#include <QByteArray>
#include <QDir>
#include <QFile>
#include <algorithm>
#include <cstddef>
#include <string>

#include "DataGenerator.h"

namespace tesselby::bench {

// Points the program at a generated list of the given size, generating it on first use, and returns the
// data file's path; a size of 0 means no data file at all. Folders live under TESSELBY_BENCH_DIR
// (default /tmp/tesselby-bench).
inline QString useDataFileOf(std::size_t records)
{
    const QByteArray base = qEnvironmentVariableIsSet("TESSELBY_BENCH_DIR") ? qgetenv("TESSELBY_BENCH_DIR")
                                                                            : QByteArray("/tmp/tesselby-bench");
    const QString home = QString::fromLocal8Bit(base) + QStringLiteral("/%1").arg(records);
    const QString path = home + QStringLiteral("/tesselby/tesselby.txt");
    if (records > 0 && !QFile::exists(path)) {
        QDir().mkpath(home + QStringLiteral("/tesselby"));
        QFile file(path);
        const std::string text = generateDataFile(records);
        if (file.open(QIODevice::WriteOnly))
            file.write(text.data(), static_cast<qint64>(text.size()));
    }
    qputenv("XDG_DATA_HOME", home.toLocal8Bit());
    return path;
}

// Points the program at a list of three people whose second has a last name of valueBytes letters,
// the longest value a person is likely to paste, and the kind no screen may freeze on.
inline QString useDataFileWithValueOf(std::size_t valueBytes)
{
    const QByteArray base = qEnvironmentVariableIsSet("TESSELBY_BENCH_DIR") ? qgetenv("TESSELBY_BENCH_DIR")
                                                                            : QByteArray("/tmp/tesselby-bench");
    const QString home = QString::fromLocal8Bit(base) + QStringLiteral("/value-%1").arg(valueBytes);
    const QString path = home + QStringLiteral("/tesselby/tesselby.txt");
    if (!QFile::exists(path)) {
        QDir().mkpath(home + QStringLiteral("/tesselby"));
        QFile file(path);
        if (file.open(QIODevice::WriteOnly)) {
            file.write("\"Ann\"\r\n\"Lee\"\r\n\"1\"\r\n\"ann@example.org\"\r\n\"Long\"\r\n\"");
            const QByteArray letters(1 << 20, 'x');
            for (std::size_t left = valueBytes; left > 0;) {
                const auto part = static_cast<qint64>(std::min<std::size_t>(left, std::size_t(letters.size())));
                file.write(letters.constData(), part);
                left -= static_cast<std::size_t>(part);
            }
            file.write("\"\r\n\"2\"\r\n\"long@example.org\"\r\n\"Bo\"\r\n\"Ek\"\r\n\"3\"\r\n\"bo@example.org\"\r\n");
        }
    }
    qputenv("XDG_DATA_HOME", home.toLocal8Bit());
    return path;
}

} // namespace tesselby::bench
