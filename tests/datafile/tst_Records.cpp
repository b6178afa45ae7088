#include <QtTest>
#include <string>
#include <vector>

#include "ItemWriter.h"
#include "NativeFile.h"
#include "RecordEdit.h"
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

const QStringList kLoaded{"A", "a", "1", "a@", "B", "b", "2", "b@", "C", "b", "2", "c@", "D", "d", "", ""};

QStringList firstNames(const MatchList& matches)
{
    QStringList names;
    for (std::size_t m = 0; m < matches.size(); ++m)
        names << QString::fromStdString(matches.record(m)[0]);
    return names;
}

// Reads of one byte, of a few, and of the usual size cut records at every place.
const std::size_t kChunkSizes[] = {1, 5, 64, RecordSearch::kDefaultChunkBytes};

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
        QTest::newRow("one letter, also in other fields") << 2 << "S" << QStringList{"John", "Anna"};
        QTest::newRow("one letter, twice in a value") << 4 << "o" << QStringList{"John", "Anna", "Tomas", ""};
        QTest::newRow("one letter, last field only") << 4 << "j" << QStringList{"John"};
    }
    void searchMatchesContainedTextExactly()
    {
        QFETCH(int, field);
        QFETCH(QString, needle);
        QFETCH(QStringList, found);
        for (const std::size_t chunk : kChunkSizes)
            QCOMPARE(firstNames(searchText(fileOf(kPeople), field, needle.toStdString(), chunk)), found);
    }

    void searchCopiesWholeRecords()
    {
        const MatchList matches = searchText(fileOf(kPeople), 3, "0101");
        QCOMPARE(matches.size(), std::size_t(1));
        QCOMPARE(matches.record(0), (Record{"Anna", "Smithers", "555-0101", "anna@example.org"}));

        // Many matches, each read back in any order from wherever it lies in the kept bytes.
        std::vector<std::string> many;
        for (int p = 0; p < 40; ++p)
            many.insert(many.end(), {"P" + std::to_string(p), "L", std::string(std::size_t(p), 'x'), ""});
        for (const std::size_t chunk : kChunkSizes) {
            const MatchList all = searchText(fileOf(many), 2, "L", chunk);
            QCOMPARE(all.size(), std::size_t(40));
            for (const std::size_t m :
                 {std::size_t(39), std::size_t(0), std::size_t(17), std::size_t(16), std::size_t(31)})
                QCOMPARE(all.record(m)[2], std::string(m, 'x'));
        }
    }

    void searchNeverTestsATrailingIncompleteRecord()
    {
        std::vector<std::string> items = {"Ann", "Lee", "1", "a@x", "Bob", "Lee", "2"};
        QCOMPARE(searchText(fileOf(items), 2, "Lee").size(), std::size_t(1));
        items.resize(3);
        QCOMPARE(searchText(fileOf(items), 1, "").size(), std::size_t(0));
    }

    void searchFindsEscapedQuotesAndOlderText()
    {
        std::string text = fileOf({"Bob \"Bo\"", "Lee", "", ""});
        text += "\"J\xFCrgen\"\r\n\"Wei\xDF\"\r\n\"\"\r\n\"\"\r\n"; // a record from an older single-byte file
        QCOMPARE(firstNames(searchText(text, 1, "\"Bo\"")), QStringList{"Bob \"Bo\""});
        for (const std::size_t chunk : kChunkSizes)
            QCOMPARE(firstNames(searchText(text, 1, QString::fromUtf8("Jü").toStdString(), chunk)),
                     QStringList{QString::fromUtf8("Jürgen")});
        QCOMPARE(firstNames(searchText(text, 2, "Wei")), (QStringList{QString::fromUtf8("Jürgen")}));
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
        QCOMPARE(grid.itemCount(), std::size_t(items));
        QCOMPARE(grid.recordCount(), std::size_t(records));
        if (records == 0)
            return;
        // The last record holds the trailing items, its missing fields empty.
        const Record last = grid.record(std::size_t(records));
        for (int f = 0; f < kFieldCount; ++f) {
            const int item = (records - 1) * kFieldCount + f + 1;
            QCOMPARE(last[f], item <= items ? "item" + std::to_string(item) : std::string());
        }
    }

    // Rows name the loaded list, mostly A..D (C shares two values with B, D has no phone or e-mail); "now" is the file
    // as another program left it. A null edit leaves the field alone; the result is the file after the save (unchanged
    // unless written).
    void editFindsThePersonInTheFileAsItIsNow_data()
    {
        QTest::addColumn<QStringList>("loaded");
        QTest::addColumn<QStringList>("now");
        QTest::addColumn<int>("number");
        QTest::addColumn<QStringList>("edit");
        QTest::addColumn<QStringList>("replaces");
        QTest::addColumn<QString>("outcome");
        QTest::addColumn<QStringList>("result");
        const QString keep;
        const QStringList a = kLoaded.mid(0, 4), b = kLoaded.mid(4, 4), c = kLoaded.mid(8, 4), d = kLoaded.mid(12, 4);
        const QStringList e{"E", "e", "5", "e@"};
        const QStringList none{keep, keep, keep, keep};
        const QStringList loaded = kLoaded;
        const QStringList phone{keep, keep, "22", keep};
        const QStringList otherPhone{"B", "b", "2!", "b@"};

        QTest::newRow("unchanged file") << loaded << loaded << 2 << phone << none << "write 2"
                                        << a + QStringList{"B", "b", "22", "b@"} + c + d;
        QTest::newRow("record before removed") << loaded << a + c + d << 3 << QStringList{keep, keep, "33", keep}
                                               << none << "write 2" << a + QStringList{"C", "b", "33", "c@"} + d;
        QTest::newRow("order reversed") << loaded << d + c + b + a << 1 << QStringList{"A2", keep, keep, keep} << none
                                        << "write 4" << d + c + b + QStringList{"A2", "a", "1", "a@"};
        QTest::newRow("record appended") << loaded << loaded + e << 4 << QStringList{keep, keep, keep, "d2@"} << none
                                         << "write 4" << a + b + c + QStringList{"D", "d", "", "d2@"} + e;
        QTest::newRow("other field changed by another copy")
            << loaded << a + otherPhone + c + d << 2 << QStringList{keep, keep, keep, "b2@"} << none << "write 2"
            << a + QStringList{"B", "b", "2!", "b2@"} + c + d;
        QTest::newRow("same field changed by another copy")
            << loaded << a + otherPhone + c + d << 2 << phone << none << "conflict 2" << a + otherPhone + c + d;
        QTest::newRow("same field changed alike")
            << loaded << a + QStringList{"B", "b", "22", "b@"} + c + d << 2 << phone << none << "write 2"
            << a + QStringList{"B", "b", "22", "b@"} + c + d;
        QTest::newRow("person chose to replace the other value")
            << loaded << a + otherPhone + c + d << 2 << phone << QStringList{keep, keep, "2!", keep} << "write 2"
            << a + QStringList{"B", "b", "22", "b@"} + c + d;
        QTest::newRow("other value changed again after the choice")
            << loaded << a + otherPhone + c + d << 2 << phone << QStringList{keep, keep, "2?", keep} << "conflict 2"
            << a + otherPhone + c + d;
        QTest::newRow("two fields in conflict, a third merged")
            << loaded << a + QStringList{"B!", "b", "2!", "b@"} + c + d << 2 << QStringList{"B2", keep, "22", "b2@"}
            << none << "conflict 0 2" << a + QStringList{"B!", "b", "2!", "b@"} + c + d;
        QTest::newRow("person removed") << loaded << a + c + d << 2 << phone << none << "not found" << a + c + d;
        QTest::newRow("person stands twice")
            << loaded << a + c + b + b + d << 2 << phone << none << "not found" << a + c + b + b + d;
        QTest::newRow("file emptied") << loaded << QStringList{} << 1 << phone << none << "not found" << QStringList{};
        QTest::newRow("most of the person changed")
            << loaded << a + QStringList{"B!", "b!", "2!", "b@"} + c + d << 2 << QStringList{keep, keep, keep, "b2@"}
            << none << "not found" << a + QStringList{"B!", "b!", "2!", "b@"} + c + d;
        QTest::newRow("person changed and a neighbour too")
            << loaded << QStringList{"A!", "a", "1", "a@"} + otherPhone + c + d << 2
            << QStringList{keep, keep, keep, "b2@"} << none << "not found"
            << QStringList{"A!", "a", "1", "a@"} + otherPhone + c + d;
        QTest::newRow("place taken by another loaded person sharing two fields")
            << loaded << a + c + c + d << 2 << phone << none << "not found" << a + c + c + d;
        QTest::newRow("person gone, and the next person's twin changed in their place")
            << a + b + c + c + d << a + QStringList{"C!", "b", "2", "c@"} + c + c + d << 2
            << QStringList{keep, keep, keep, "b2@"} << none << "not found"
            << a + QStringList{"C!", "b", "2", "c@"} + c + c + d;
        QTest::newRow("newcomer sharing only empty fields")
            << loaded << a + b + c + e.mid(0, 2) + QStringList{"", ""} << 4 << QStringList{keep, keep, keep, "d2@"}
            << none << "not found" << a + b + c + e.mid(0, 2) + QStringList{"", ""};
        QTest::newRow("last person cut short")
            << loaded << a + b + c + QStringList{"D", "d"} << 4 << QStringList{"D2", keep, keep, keep} << none
            << "write 4" << a + b + c + QStringList{"D2", "d", "", ""};
        QTest::newRow("empty fields another program cut off")
            << loaded << a + b + c + QStringList{"D", "d"} << 4 << QStringList{keep, keep, keep, "d2@"} << none
            << "write 4" << a + b + c + QStringList{"D", "d", "", "d2@"};
        QTest::newRow("edit that changes nothing completes a cut person")
            << loaded << a + b + c + QStringList{"D", "d"} << 4 << none << none << "write 4"
            << a + b + c + QStringList{"D", "d", "", ""};
        const QStringList bChanged{"B!", "b!", "2", "b@"}, twins = a + b + b + d;
        QTest::newRow("person's twin moved beside them, changed")
            << twins << b + b + bChanged + d << 3 << QStringList{keep, keep, keep, "b2@"} << none << "not found"
            << b + b + bChanged + d;
        QTest::newRow("person with a twin changed in place")
            << twins << a + b + bChanged + d << 3 << QStringList{keep, keep, keep, "b2@"} << none << "write 3"
            << a + b + QStringList{"B!", "b!", "2", "b2@"} + d;
    }
    void editFindsThePersonInTheFileAsItIsNow()
    {
        QFETCH(QStringList, loaded);
        QFETCH(QStringList, now);
        QFETCH(int, number);
        QFETCH(QStringList, edit);
        QFETCH(QStringList, replaces);
        QFETCH(QString, outcome);
        QFETCH(QStringList, result);
        const auto items = [](const QStringList& list) {
            std::vector<std::string> out;
            for (const QString& item : list)
                out.push_back(item.toStdString());
            return out;
        };
        const auto loadedGrid = RecordGrid::fromText(fileOf(items(loaded)));
        auto onDisk = RecordGrid::fromText(fileOf(items(now)));
        RecordEdit recordEdit;
        for (int f = 0; f < kFieldCount; ++f) {
            if (!edit[f].isNull())
                recordEdit[f] = FieldEdit{edit[f].toStdString(), std::nullopt};
            if (!replaces[f].isNull())
                recordEdit[f]->replaces = replaces[f].toStdString();
        }
        const EditPlan plan = planEdit(loadedGrid, std::size_t(number), onDisk, recordEdit);
        QString got;
        if (plan.kind == EditPlan::Kind::Write)
            got = QString("write %1").arg(plan.at);
        else if (plan.kind == EditPlan::Kind::PersonNotFound)
            got = "not found";
        else
            for (const EditConflict& conflict : plan.conflicts) {
                got += (got.isEmpty() ? "conflict " : " ") + QString::number(conflict.field);
                QCOMPARE(conflict.mine, recordEdit[conflict.field]->value);
                QCOMPARE(conflict.theirs, onDisk.record(plan.at)[conflict.field]);
            }
        QCOMPARE(got, outcome);
        if (plan.saved())
            onDisk.apply(onDisk.replacementFor(plan.at, plan.values));
        QCOMPARE(onDisk.text(), fileOf(items(result)));
    }

    // Each row replaces some values of one record; everything else keeps its bytes, and the grid's own
    // index of the new text agrees with a fresh reading of it.
    void replacementKeepsEveryOtherRecordAndUntouchedBytes_data()
    {
        QTest::addColumn<QByteArray>("text");
        QTest::addColumn<int>("number");
        QTest::addColumn<QStringList>("values");
        QTest::addColumn<QByteArray>("expected");
        const QString keep;
        const auto file = [](const std::vector<std::string>& items) {
            return QByteArray::fromStdString(fileOf(items));
        };
        const QByteArray three = file({"A", "a", "1", "a@", "B", "b", "2", "b@", "C", "c", "3", "c@"});
        const QByteArray threeEdited = file({"A", "a", "1", "a@", "B", "b \"2\"", "2", "b@", "C", "c", "3", "c@"});
        const QStringList middle{keep, "b \"2\"", keep, keep};

        QTest::newRow("middle record") << three << 2 << middle << threeEdited;
        QTest::newRow("first record, no other change")
            << three << 1 << QStringList{"A2", keep, keep, keep}
            << file({"A2", "a", "1", "a@", "B", "b", "2", "b@", "C", "c", "3", "c@"});
        QTest::newRow("older single-byte text and LF kept in untouched fields")
            << QByteArray("\"A\"\n\"M\xFC"
                          "ller\"\n1\n\"a@\"\n") +
                   three
            << 1 << QStringList{keep, keep, keep, "new@"}
            << QByteArray("\"A\"\r\n\"M\xFC"
                          "ller\"\r\n\"1\"\r\n\"new@\"\r\n") +
                   three;
        QTest::newRow("byte-order mark kept")
            << QByteArray("\xEF\xBB\xBF") + three << 1 << QStringList{"A2", keep, keep, keep}
            << QByteArray("\xEF\xBB\xBF") + file({"A2", "a", "1", "a@", "B", "b", "2", "b@", "C", "c", "3", "c@"});
        QTest::newRow("untidy last record")
            << three + "\"D\"\n\"d\"\n\"4\"\n\"d@\"" << 4 << QStringList{"D2", keep, keep, keep}
            << three + file({"D2", "d", "4", "d@"});
        QTest::newRow("incomplete last record left alone") << three + "\"D\"\r\n"
                                                           << 2 << middle << threeEdited + "\"D\"\r\n";
        QTest::newRow("incomplete last record completed")
            << three + "\"D\"\r\n"
            << 4 << QStringList{keep, "d", keep, keep} << three + file({"D", "d", "", ""});
        QTest::newRow("unterminated last value kept")
            << three + "\"D\"\r\n\"d\r\n"
            << 4 << QStringList{keep, keep, "4", keep} << three + "\"D\"\r\n\"d\r\n\"\r\n\"4\"\r\n\"\"\r\n";
        QTest::newRow("one line, first edited")
            << QByteArray("\"a\",\"b\",\"c\",\"d\",\"e\",\"f\",\"g\",\"h\"\r\n") << 1
            << QStringList{"X", keep, keep, keep} << file({"X", "b", "c", "d", "e", "f", "g", "h"});
        QTest::newRow("one line, second edited, unquoted values")
            << QByteArray("a,b,c,d,e,f,g,h\r\n") + three << 2 << QStringList{keep, keep, "G", keep}
            << file({"a", "b", "c", "d", "e", "f", "G", "h"}) + three;
        QTest::newRow("trailing comma before the next record")
            << QByteArray("\"a\"\r\n\"b\"\r\n\"c\"\r\n\"d\",\r\n\"f\"\r\n\"g\"\r\n\"h\"\r\n") + three << 1
            << QStringList{keep, keep, keep, "D"} << file({"a", "b", "c", "D", "", "f", "g", "h"}) + three;
    }
    void replacementKeepsEveryOtherRecordAndUntouchedBytes()
    {
        QFETCH(QByteArray, text);
        QFETCH(int, number);
        QFETCH(QStringList, values);
        QFETCH(QByteArray, expected);
        auto grid = RecordGrid::fromText(text.toStdString());
        FieldValues fieldValues;
        for (int f = 0; f < kFieldCount; ++f) {
            if (!values[f].isNull())
                fieldValues[f] = values[f].toStdString();
        }
        const RecordGrid::Replacement replacement = grid.replacementFor(std::size_t(number), fieldValues);
        // The content a save writes, written to a file of its own.
        QTemporaryDir folder;
        const std::string written = (folder.path() + "/saved.txt").toStdString();
        const FileContent content = grid.contentWith(replacement);
        {
            Result<NativeFile> file = NativeFile::open(written, NativeFile::Access::Append);
            QVERIFY(file.ok());
            QVERIFY(content.writeTo(file.value()).ok());
        }
        QFile savedFile(QString::fromStdString(written));
        QVERIFY(savedFile.open(QIODevice::ReadOnly));
        const QByteArray pieces = savedFile.readAll();
        QCOMPARE(std::uint64_t(pieces.size()), content.size);
        grid.apply(replacement);
        QCOMPARE(QByteArray(grid.text().data(), static_cast<qsizetype>(grid.text().size())), expected);
        QCOMPARE(pieces.toStdString(), grid.text());
        const auto reread = RecordGrid::fromText(grid.text());
        QCOMPARE(grid.recordCount(), reread.recordCount());
        QCOMPARE(grid.itemCount(), reread.itemCount());
        for (std::size_t r = 1; r <= reread.recordCount(); ++r)
            QVERIFY2(grid.sameRecord(r, reread, r), qPrintable(QString("record %1").arg(r)));
    }
};

QTEST_GUILESS_MAIN(RecordsTest)
#include "tst_Records.moc"
