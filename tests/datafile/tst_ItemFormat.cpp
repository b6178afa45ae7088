#include <QtTest>
#include <string>
#include <vector>

#include "ItemReader.h"
#include "ItemWriter.h"
#include "TextEncoding.h"

using namespace tesselby;

namespace {

std::vector<std::string> readItems(const std::string& text)
{
    std::vector<std::string> items;
    ItemScanner scanner(text);
    RawItem item;
    while (scanner.next(item))
        items.push_back(decodeItem(item));
    return items;
}

QStringList toList(const std::vector<std::string>& items)
{
    QStringList list;
    for (const std::string& item : items)
        list << QString::fromStdString(item);
    return list;
}

} // namespace

class ItemFormatTest : public QObject {
    Q_OBJECT

private slots:
    void writesOneQuotedLinePerItem_data()
    {
        QTest::addColumn<QByteArray>("value");
        QTest::addColumn<QByteArray>("line");
        QTest::newRow("plain") << QByteArray("Smith") << QByteArray("\"Smith\"\r\n");
        QTest::newRow("empty") << QByteArray() << QByteArray("\"\"\r\n");
        QTest::newRow("digits stay text") << QByteArray("5551234") << QByteArray("\"5551234\"\r\n");
        QTest::newRow("comma needs nothing") << QByteArray("Smith, Jr.") << QByteArray("\"Smith, Jr.\"\r\n");
        QTest::newRow("quote doubled") << QByteArray("Bob \"Bo\" Lee") << QByteArray("\"Bob \"\"Bo\"\" Lee\"\r\n");
        QTest::newRow("line break kept inside") << QByteArray("a\r\nb") << QByteArray("\"a\r\nb\"\r\n");
        QTest::newRow("blanks kept") << QByteArray("  x  ") << QByteArray("\"  x  \"\r\n");
    }
    void writesOneQuotedLinePerItem()
    {
        QFETCH(QByteArray, value);
        QFETCH(QByteArray, line);
        std::string out;
        appendItem(out, value.toStdString());
        QCOMPARE(QByteArray::fromStdString(out), line);
    }

    void everyValueReadsBackAsWritten_data()
    {
        QTest::addColumn<QByteArray>("value");
        QTest::newRow("empty") << QByteArray();
        QTest::newRow("comma") << QByteArray("O'Brien, Sr.");
        QTest::newRow("lone quote") << QByteArray("\"");
        QTest::newRow("two quotes") << QByteArray("\"\"");
        QTest::newRow("quoted word") << QByteArray("say \"hi\"");
        QTest::newRow("ends with quote") << QByteArray("abc\"");
        QTest::newRow("CR LF") << QByteArray("line one\r\nline two");
        QTest::newRow("LF") << QByteArray("a\nb");
        QTest::newRow("lone CR") << QByteArray("a\rb");
        QTest::newRow("only a line break") << QByteArray("\r\n");
        QTest::newRow("leading and trailing blanks") << QByteArray("  padded\t ");
        QTest::newRow("accents and scripts") << QString::fromUtf8("Zoë Ångström 李小龍 Ελένη").toUtf8();
        QTest::newRow("byte-order mark inside") << QByteArray("\xEF\xBB\xBFx");
        QTest::newRow("NUL") << QByteArray("a\0b", 3);
        QTest::newRow("long") << QByteArray(200000, 'x');
    }
    void everyValueReadsBackAsWritten()
    {
        QFETCH(QByteArray, value);
        // Written between two neighbours, so a value that leaked would shift them.
        std::string text;
        appendItem(text, "before");
        appendItem(text, value.toStdString());
        appendItem(text, "after");
        const auto items = readItems(text);
        QCOMPARE(items.size(), std::size_t(3));
        QCOMPARE(items[0], std::string("before"));
        QCOMPARE(QByteArray::fromStdString(items[1]), value);
        QCOMPARE(items[2], std::string("after"));
    }

    void readsContentWrittenByOtherMeans_data()
    {
        QTest::addColumn<QByteArray>("text");
        QTest::addColumn<QStringList>("items");
        QTest::newRow("empty file") << QByteArray() << QStringList{};
        QTest::newRow("only blank lines") << QByteArray("\r\n\n  \r\n") << QStringList{};
        QTest::newRow("LF line ends") << QByteArray("\"a\"\n\"b\"\n") << QStringList{"a", "b"};
        QTest::newRow("lone CR line ends") << QByteArray("\"a\"\r\"b\"\r") << QStringList{"a", "b"};
        QTest::newRow("no final line end") << QByteArray("\"a\"\r\n\"b\"") << QStringList{"a", "b"};
        QTest::newRow("unquoted last item") << QByteArray("\"a\"\r\nb") << QStringList{"a", "b"};
        QTest::newRow("blank lines between") << QByteArray("\"a\"\r\n\r\n\r\n\"b\"\r\n") << QStringList{"a", "b"};
        QTest::newRow("several on a line") << QByteArray("\"a\",\"b\" , \"c\"\r\n") << QStringList{"a", "b", "c"};
        QTest::newRow("unquoted trimmed") << QByteArray("  John  ,Smith\t\r\n") << QStringList{"John", "Smith"};
        QTest::newRow("rest after quote skipped") << QByteArray("\"a\"junk\r\n\"b\"\r\n") << QStringList{"a", "b"};
        QTest::newRow("trailing comma") << QByteArray("\"a\",\r\n\"b\"\r\n") << QStringList{"a", "", "b"};
        QTest::newRow("comma at end of file") << QByteArray("a,") << QStringList{"a", ""};
        QTest::newRow("unterminated quote") << QByteArray("\"a\"\r\n\"b\r\nc") << QStringList{"a", "b\r\nc"};
        QTest::newRow("leading blanks before quote") << QByteArray("   \"a\"\r\n") << QStringList{"a"};
        QTest::newRow("byte-order mark") << QByteArray("\xEF\xBB\xBF\"a\"\r\n") << QStringList{"a"};
        QTest::newRow("empty quoted") << QByteArray("\"\"\r\n\"\"\r\n") << QStringList{"", ""};
    }
    void readsContentWrittenByOtherMeans()
    {
        QFETCH(QByteArray, text);
        QFETCH(QStringList, items);
        QCOMPARE(toList(readItems(text.toStdString())), items);
    }

    void readsOlderSingleByteTextItemByItem()
    {
        // An older file in Windows-1252, with a record added later in UTF-8.
        const std::string text = "\"M\xFCller\"\r\n\"\x80 5\"\r\n\"\x93quoted\x94\"\r\n\"" +
                                 QString::fromUtf8("Müller").toStdString() + "\"\r\n";
        const QStringList expected{QString::fromUtf8("Müller"), QString::fromUtf8("€ 5"),
                                   QString::fromUtf8("\u201Cquoted\u201D"), QString::fromUtf8("Müller")};
        QCOMPARE(toList(readItems(text)), expected);
    }

    void rejectsMalformedUtf8_data()
    {
        QTest::addColumn<QByteArray>("bytes");
        QTest::addColumn<bool>("valid");
        QTest::newRow("ascii") << QByteArray("plain") << true;
        QTest::newRow("two-byte") << QByteArray("\xC3\xA9") << true;
        QTest::newRow("four-byte") << QByteArray("\xF0\x9F\x98\x80") << true;
        QTest::newRow("overlong") << QByteArray("\xC0\xAF") << false;
        QTest::newRow("overlong three-byte") << QByteArray("\xE0\x80\xAF") << false;
        QTest::newRow("surrogate") << QByteArray("\xED\xA0\x80") << false;
        QTest::newRow("above U+10FFFF") << QByteArray("\xF4\x90\x80\x80") << false;
        QTest::newRow("cut short") << QByteArray("abc\xE2\x82") << false;
        QTest::newRow("lone continuation") << QByteArray("\x80") << false;
        QTest::newRow("long ascii then bad") << QByteArray("abcdefghijklmnop\xFF") << false;
    }
    void rejectsMalformedUtf8()
    {
        QFETCH(QByteArray, bytes);
        QFETCH(bool, valid);
        QCOMPARE(isValidUtf8(std::string_view(bytes.constData(), bytes.size())), valid);
    }

    void keepsBytesOfUnchangedItems()
    {
        // Writing an item as it was read keeps older single-byte text and escapes byte for byte.
        const std::string text = "\"M\xFCller\"\r\n\"a\"\"b\"\r\n";
        ItemScanner scanner(text);
        RawItem item;
        std::string out;
        while (scanner.next(item))
            appendItemAsRead(out, item);
        QCOMPARE(out, text);
    }
};

QTEST_GUILESS_MAIN(ItemFormatTest)
#include "tst_ItemFormat.moc"
