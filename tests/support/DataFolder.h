#pragma once

#include <QByteArray>
#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QStringList>
#include <QTemporaryDir>
#include <QtTest>

// A data folder of the test's own, made the program's per-user data folder through XDG_DATA_HOME, so
// no test touches a real address list.
class DataFolder {
public:
    DataFolder()
    {
        QVERIFY(m_dir.isValid());
        qputenv("XDG_DATA_HOME", m_dir.path().toLocal8Bit());
        // The list's history, kept apart from the user's own.
        qputenv("XDG_STATE_HOME", (m_dir.path() + QStringLiteral("/state")).toLocal8Bit());
    }

    QString filePath() const { return m_dir.path() + QStringLiteral("/tesselby/tesselby.txt"); }
    QString folderPath() const { return m_dir.path() + QStringLiteral("/tesselby"); }

    void write(const QByteArray& bytes) const
    {
        QDir().mkpath(folderPath());
        QFile file(filePath());
        QVERIFY(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
        QCOMPARE(file.write(bytes), bytes.size());
    }

    void append(const QByteArray& bytes) const
    {
        QFile file(filePath());
        QVERIFY(file.open(QIODevice::WriteOnly | QIODevice::Append));
        QCOMPARE(file.write(bytes), bytes.size());
    }

    // Sets the file's write time, as a sync tool that copies it may.
    void setWrittenAt(const QDateTime& time) const
    {
        QFile file(filePath());
        QVERIFY(file.open(QIODevice::ReadWrite));
        QVERIFY(file.setFileTime(time, QFileDevice::FileModificationTime));
    }

    QByteArray read() const
    {
        QFile file(filePath());
        if (!file.open(QIODevice::ReadOnly))
            return {};
        return file.readAll();
    }

    bool exists() const { return QFile::exists(filePath()); }

    // Puts a folder where the data file belongs, a fault that stops reads and writes even for root.
    void putFolderInPlace() const { QVERIFY(QDir().mkpath(filePath())); }

private:
    QTemporaryDir m_dir;
};

// The exact bytes the program writes for these values: one quoted item per line, CR LF line ends.
inline QByteArray itemLines(const QStringList& values)
{
    QByteArray bytes;
    for (const QString& value : values) {
        QByteArray utf8 = value.toUtf8();
        utf8.replace("\"", "\"\"");
        bytes += '"' + utf8 + "\"\r\n";
    }
    return bytes;
}
