#pragma once

#include <QByteArray>
#include <QDir>
#include <QFile>
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

} // namespace tesselby::bench
