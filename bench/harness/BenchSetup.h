#pragma once

#include <QByteArray>
#include <QDir>
#include <QFile>
#include <algorithm>
#include <cstddef>
#include <functional>
#include <string>

#include "DataGenerator.h"

namespace tesselby::bench {

// Points the program at the data file in folder name under TESSELBY_BENCH_DIR (default
// /tmp/tesselby-bench), having write fill it on first use (without one there is no file), and returns
// the file's path.
inline QString useDataFileIn(const QString& name, const std::function<void(QFile&)>& write)
{
    const QByteArray base = qEnvironmentVariableIsSet("TESSELBY_BENCH_DIR") ? qgetenv("TESSELBY_BENCH_DIR")
                                                                            : QByteArray("/tmp/tesselby-bench");
    const QString home = QString::fromLocal8Bit(base) + QLatin1Char('/') + name;
    const QString path = home + QStringLiteral("/tesselby/tesselby.txt");
    if (write && !QFile::exists(path)) {
        QDir().mkpath(home + QStringLiteral("/tesselby"));
        QFile file(path);
        if (file.open(QIODevice::WriteOnly))
            write(file);
    }
    qputenv("XDG_DATA_HOME", home.toLocal8Bit());
    // The lists' histories stay with the benchmarks' lists, not in the user's own state folder.
    if (!qEnvironmentVariableIsSet("XDG_STATE_HOME"))
        qputenv("XDG_STATE_HOME", base + "/state");
    return path;
}

// A generated list of the given size; a size of 0 means no data file at all.
inline QString useDataFileOf(std::size_t records)
{
    if (records == 0)
        return useDataFileIn(QStringLiteral("0"), {});
    return useDataFileIn(QString::number(records), [records](QFile& file) {
        generateDataFile(records,
                         [&file](std::string_view part) { file.write(part.data(), static_cast<qint64>(part.size())); });
    });
}

// A list of three people whose second has a last name of valueBytes letters, the longest value a
// person is likely to paste, and the kind no screen may freeze on.
inline QString useDataFileWithValueOf(std::size_t valueBytes)
{
    return useDataFileIn(QStringLiteral("value-%1").arg(valueBytes), [valueBytes](QFile& file) {
        file.write("\"Ann\"\r\n\"Lee\"\r\n\"1\"\r\n\"ann@example.org\"\r\n\"Long\"\r\n\"");
        const QByteArray letters(1 << 20, 'x');
        for (std::size_t left = valueBytes; left > 0;) {
            const auto part = static_cast<qint64>(std::min<std::size_t>(left, std::size_t(letters.size())));
            file.write(letters.constData(), part);
            left -= static_cast<std::size_t>(part);
        }
        file.write("\"\r\n\"2\"\r\n\"long@example.org\"\r\n\"Bo\"\r\n\"Ek\"\r\n\"3\"\r\n\"bo@example.org\"\r\n");
    });
}

} // namespace tesselby::bench
