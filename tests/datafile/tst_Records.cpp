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
    "John",  "Smith",   "555-0100", "john@example.org",  "Anna",  "Smithers", "555-0101", "anna@example.org",
    "Tomas", "Goldsmith", "",       "tomas@example.org", "", "smith", "555-0103", "lower@example.org",
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
        for (const auto& [items, records] : std::vector<std::pair<int, int>>{
                 {0, 0}, {1, 1}, {4, 1}, {5, 2}, {6, 2}, {7, 2}, {8, 2}, {9, 3}, {10, 3}})
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
        const auto onDisk = RecordGrid::fromText(fileOf({"A", "a", "1", "a@", "B!", "b", "2", "b@", "C", "c", "3", "c@"}));
        QCOMPARE(mergeEditsIntoFile(*loaded, *onDisk),
                 fileOf({"A2", "a2", "12", "a2@", "B!", "b", "2", "b@", "C", "c", "3", "c@"}));
    }

    void mergeKeepsRecordsTheFileLost()
    {
        auto loaded = RecordGrid::fromText(fileOf({"A", "a", "1", "a@", "B", "b", "2", "b@", "C", "c", "3", "c@"}));
        loaded->setRecord(3, {"C2", "c", "3", "c@"});
        const auto truncated = RecordGrid::fromText(fileOf({"A", "a", "1", "a@", "B", "b"}));
        QCOMPARE(mergeEditsIntoFile(*loaded, *truncated),
                 fileOf({"A", "a", "1", "a@", "B", "b", "", "", "C2", "c", "3", "c@"}));
        const auto missing = RecordGrid::fromText(std::string());
        QCOMPARE(mergeEditsIntoFile(*loaded, *missing),
                 fileOf({"A", "a", "1", "a@", "B", "b", "2", "b@", "C2", "c", "3", "c@"}));
    }

    void mergeWritesAPartialRecordWhole()
    {
        auto loaded = RecordGrid::fromText(fileOf({"A", "a", "1", "a@", "B", "b"}));
        QCOMPARE(mergeEditsIntoFile(*loaded, *loaded), fileOf({"A", "a", "1", "a@", "B", "b", "", ""}));
    }
};

QTEST_GUILESS_MAIN(RecordsTest)
#include "tst_Records.moc"
