#include <QtTest>
#include <string>
#include <vector>

#include "ItemWriter.h"
#include "RecordGrid.h"
#include "RecordSearch.h"

using namespace tesselby;

namespace {

std::string fileOf(const std::vector<std::string>& items)
{
    std::string text;
    for (const std::string& item : items)
        appendItem(text, item);
    return text;
}

const std::vector<std::string> kPeople = {
    "John",  "Smith",     "555-0100", "john@example.org",  "Anna", "Smithers", "555-0101", "anna@example.org",
    "Tomas", "Goldsmith", "",         "tomas@example.org", "",     "smith",    "555-0103", "lower@example.org",
};

QStringList firstNames(const std::vector<Record>& records)
{
    QStringList names;
    for (const Record& record : records)
        names << QString::fromStdString(record[0]);
    return names;
}

} // namespace

class RecordsTest : public QObject {
    Q_OBJECT

private slots:
    void searchMatchesContainedTextExactly_data()
    {
        QTest::addColumn<int>("field");
        QTest::addColumn<QString>("needle");
        QTest::addColumn<QStringList>("found");
        QTest::newRow("substring, file order") << 2 << "mith" << QStringList{"John", "Anna", "Tomas", ""};
        QTest::newRow("upper case") << 2 << "Smith" << QStringList{"John", "Anna"};
        QTest::newRow("lower case") << 2 << "smith" << QStringList{"Tomas", ""};
        QTest::newRow("whole value") << 1 << "Anna" << QStringList{"Anna"};
        QTest::newRow("other field never matches") << 1 << "Smith" << QStringList{};
        QTest::newRow("phone") << 3 << "0103" << QStringList{""};
        QTest::newRow("e-mail") << 4 << "@example" << QStringList{"John", "Anna", "Tomas", ""};
        QTest::newRow("empty text skips empty fields") << 3 << "" << QStringList{"John", "Anna", ""};
        QTest::newRow("blanks are not trimmed") << 1 << " John" << QStringList{};
    }
    void searchMatchesContainedTextExactly()
    {
        QFETCH(int, field);
        QFETCH(QString, needle);
        QFETCH(QStringList, found);
        QCOMPARE(firstNames(searchRecords(fileOf(kPeople), field, needle.toStdString())), found);
    }

    void searchCopiesWholeRecords()
    {
        const auto matches = searchRecords(fileOf(kPeople), 3, "0101");
        QCOMPARE(matches.size(), std::size_t(1));
        QCOMPARE(matches[0], (Record{"Anna", "Smithers", "555-0101", "anna@example.org"}));
    }

    void searchNeverTestsATrailingIncompleteRecord()
    {
        std::vector<std::string> items = {"Ann", "Lee", "1", "a@x", "Bob", "Lee", "2"};
        QCOMPARE(searchRecords(fileOf(items), 2, "Lee").size(), std::size_t(1));
        items.resize(3);
        QCOMPARE(searchRecords(fileOf(items), 1, "").size(), std::size_t(0));
    }

    void searchFindsEscapedQuotesAndOlderText()
    {
        std::string text = fileOf({"Bob \"Bo\"", "Lee", "", ""});
        text += "\"J\xFCrgen\"\r\n\"Wei\xDF\"\r\n\"\"\r\n\"\"\r\n"; // a record from an older single-byte file
        QCOMPARE(firstNames(searchRecords(text, 1, "\"Bo\"")), QStringList{"Bob \"Bo\""});
        QCOMPARE(firstNames(searchRecords(text, 1, QString::fromUtf8("Jü").toStdString())),
                 QStringList{QString::fromUtf8("Jürgen")});
        QCOMPARE(firstNames(searchRecords(text, 2, "Wei")), (QStringList{QString::fromUtf8("Jürgen")}));
    }

    void gridCountsEveryItem_data()
    {
        QTest::addColumn<int>("items");
        QTest::addColumn<int>("records");
        for (const auto& [items, records] :
             std::vector<std::pair<int, int>>{{0, 0}, {1, 1}, {4, 1}, {5, 2}, {6, 2}, {7, 2}, {8, 2}, {9, 3}, {10, 3}})
            QTest::addRow("%d items", items) << items << records;
    }
    void gridCountsEveryItem()
    {
        QFETCH(int, items);
        QFETCH(int, records);
        std::vector<std::string> values;
        for (int i = 1; i <= items; ++i)
            values.push_back("item" + std::to_string(i));
        const auto grid = RecordGrid::fromText(fileOf(values));
        QVERIFY(grid.has_value());
        QCOMPARE(grid->itemCount(), std::size_t(items));
        QCOMPARE(grid->recordCount(), std::size_t(records));
        if (records == 0)
            return;
        // The last record holds the trailing items, its missing fields empty.
        const Record last = grid->record(std::size_t(records));
        for (int f = 0; f < kFieldCount; ++f) {
            const int item = (records - 1) * kFieldCount + f + 1;
            QCOMPARE(last[f], item <= items ? "item" + std::to_string(item) : std::string());
        }
    }

    void mergeKeepsRecordsChangedOnDisk()
    {
        auto loaded = RecordGrid::fromText(fileOf({"A", "a", "1", "a@", "B", "b", "2", "b@"}));
        loaded->setRecord(1, {"A2", "a2", "12", "a2@"});
        // Since the load, another copy changed record 2 and appended record 3.
        const auto onDisk =
            RecordGrid::fromText(fileOf({"A", "a", "1", "a@", "B!", "b", "2", "b@", "C", "c", "3", "c@"}));
        QCOMPARE(mergeEdits(*loaded, *onDisk).text(),
                 fileOf({"A2", "a2", "12", "a2@", "B!", "b", "2", "b@", "C", "c", "3", "c@"}));
    }

    void mergeKeepsRecordsTheFileLost()
    {
        auto loaded = RecordGrid::fromText(fileOf({"A", "a", "1", "a@", "B", "b", "2", "b@", "C", "c", "3", "c@"}));
        loaded->setRecord(3, {"C2", "c", "3", "c@"});
        const auto truncated = RecordGrid::fromText(fileOf({"A", "a", "1", "a@", "B", "b"}));
        QCOMPARE(mergeEdits(*loaded, *truncated).text(),
                 fileOf({"A", "a", "1", "a@", "B", "b", "", "", "C2", "c", "3", "c@"}));
        const auto missing = RecordGrid::fromText(std::string());
        QCOMPARE(mergeEdits(*loaded, *missing).text(),
                 fileOf({"A", "a", "1", "a@", "B", "b", "2", "b@", "C2", "c", "3", "c@"}));
    }

    void mergeKeepsTheBytesOfUneditedRecords()
    {
        // Written by hand or by an older version: LF line ends, single-byte text, an unquoted value.
        const std::string text =
            "\"A\"\n\"M\xFCller\"\n1\n\"a@\"\n\"B\"\n\"b\"\n\"2\"\n\"b@\"\n\"C\"\r\n\"c\"\r\n\"3\"\r\n\"c@\"\r\n";
        auto grid = RecordGrid::fromText(text);
        grid->setRecord(2, {"B2", "b", "2", "b@"});
        const RecordGrid merged = mergeEdits(*grid, *grid);
        QCOMPARE(merged.text(),
                 "\"A\"\n\"M\xFCller\"\n1\n\"a@\"\n" + fileOf({"B2", "b", "2", "b@", "C", "c", "3", "c@"}));
        QCOMPARE(merged.record(1)[1], QString::fromUtf8("Müller").toStdString());
    }

    void mergeKeepsRecordsThatShareALine_data()
    {
        QTest::addColumn<QByteArray>("text");
        QTest::addColumn<int>("editedRecord");
        QTest::newRow("one line, first edited")
            << QByteArray("\"a\",\"b\",\"c\",\"d\",\"e\",\"f\",\"g\",\"h\"\r\n") << 1;
        QTest::newRow("one line, second edited")
            << QByteArray("\"a\",\"b\",\"c\",\"d\",\"e\",\"f\",\"g\",\"h\"\r\n") << 2;
        QTest::newRow("trailing comma before the next record")
            << QByteArray("\"a\"\r\n\"b\"\r\n\"c\"\r\n\"d\","
                          "\r\n\"f\"\r\n\"g\"\r\n\"h\"\r\n\"i\"\r\n\"j\"\r\n\"k\"\r\n\"l\"\r\n")
            << 1;
        QTest::newRow("record ends in an empty value after a comma")
            << QByteArray("\"a\"\r\n\"b\"\r\n\"c\",\r\n\"e\"\r\n\"f\"\r\n\"g\"\r\n\"h\"\r\n\"i\"\r\n\"j\"\r\n\"k\"\r\n")
            << 2;
        QTest::newRow("unterminated last value") << QByteArray("\"a\"\r\n\"b\"\r\n\"c\"\r\n\"d\"\r\n\"e\r\n") << 1;
    }
    void mergeKeepsRecordsThatShareALine()
    {
        QFETCH(QByteArray, text);
        QFETCH(int, editedRecord);
        auto grid = RecordGrid::fromText(text.toStdString());
        const Record edit{"X", "Y", "", "Z"};
        grid->setRecord(std::size_t(editedRecord), edit);
        const RecordGrid merged = mergeEdits(*grid, *grid);
        const auto reread = RecordGrid::fromText(merged.text());
        QCOMPARE(reread->recordCount(), grid->recordCount());
        for (std::size_t r = 1; r <= grid->recordCount(); ++r) {
            QCOMPARE(reread->record(r), grid->record(r));
            QCOMPARE(merged.record(r), grid->record(r)); // the merged index agrees with its own text
        }
    }

    void inPlaceSaveWritesWhatTheMergeWrites_data()
    {
        QTest::addColumn<QByteArray>("text");
        QTest::addColumn<QList<int>>("edited");
        QTest::addColumn<bool>("inPlace");
        const QByteArray three =
            QByteArray::fromStdString(fileOf({"A", "a", "1", "a@", "B", "b", "2", "b@", "C", "c", "3", "c@"}));
        QTest::newRow("middle record") << three << QList<int>{2} << true;
        QTest::newRow("first and last") << three << QList<int>{1, 3} << true;
        QTest::newRow("LF line ends") << QByteArray("\"A\"\n\"a\"\n\"1\"\n\"a@\"\n") + three << QList<int>{1} << true;
        QTest::newRow("untidy last record") << three + "\"D\"\n\"d\"\n\"4\"\n\"d@\"" << QList<int>{2} << false;
        QTest::newRow("incomplete last record") << three + "\"D\"\r\n" << QList<int>{2} << false;
        QTest::newRow("record sharing a line")
            << QByteArray("\"A\",\"a\",\"1\",\"a@\",\"B\",\"b\",\"2\",\"b@\"\r\n") + three << QList<int>{1} << false;
    }
    void inPlaceSaveWritesWhatTheMergeWrites()
    {
        QFETCH(QByteArray, text);
        QFETCH(QList<int>, edited);
        QFETCH(bool, inPlace);
        auto grid = RecordGrid::fromText(text.toStdString());
        for (const int r : edited)
            grid->setRecord(std::size_t(r), {"New \"" + std::to_string(r) + "\"", "", "x", "y"});
        const RecordGrid merged = mergeEdits(*grid, *grid);
        std::vector<std::string> newLines;
        const auto pieces = grid->editedTextInPieces(newLines);
        QCOMPARE(pieces.has_value(), inPlace);
        if (!pieces)
            return;
        std::string written;
        for (const std::string_view piece : *pieces)
            written.append(piece);
        QCOMPARE(written, merged.text());
        grid->applyEditsInPlace();
        QCOMPARE(grid->text(), merged.text());
        for (std::size_t r = 1; r <= merged.recordCount(); ++r)
            QCOMPARE(grid->record(r), merged.record(r));
    }

    void mergeWritesAPartialRecordWhole()
    {
        auto loaded = RecordGrid::fromText(fileOf({"A", "a", "1", "a@", "B", "b"}));
        QCOMPARE(mergeEdits(*loaded, *loaded).text(), fileOf({"A", "a", "1", "a@", "B", "b", "", ""}));
    }
};

QTEST_GUILESS_MAIN(RecordsTest)
#include "tst_Records.moc"
