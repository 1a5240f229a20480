// The object names as CSV: what a spreadsheet may hand back is read, every
// name that does not fit the unit is reported by its line, and nothing is
// taken from a file with any fault.

#include "NamesCsv.h"

#include <QtTest>

Q_DECLARE_METATYPE(NameUpdates)

class TestNamesCsv : public QObject
{
    Q_OBJECT

private slots:
    void writtenListReadsBackWhole();
    void accepted_data();
    void accepted();
    void refused_data();
    void refused();
    void everyFaultIsReported();
    void updatesLeaveOtherNames();
    void spreadsheetCells_data();
    void spreadsheetCells();
};

void TestNamesCsv::writtenListReadsBackWhole()
{
    ObjectNameList names;
    const QByteArray awkward[] = {
        "Hall, east",          "Say \"hi\"", " padded ",   "Caf\xE9",      "",
        "1234567890123456789", "semi;colon", "two\nlines", "\x01\x7F\xFF", "#&()*+,-./:<>[\\]_{}"};
    for (int n = 0; n < 100; ++n)
        names[std::size_t(n)] = n < 10 ? awkward[n] : "Unit" + QByteArray::number(n + 1);

    const QByteArray csv = namesToCsv(names);
    QVERIFY(csv.startsWith("address,name\r\n1,\"Hall, east\"\r\n"));
    QVERIFY(csv.contains("4,Caf\xC3\xA9\r\n")); // UTF-8 in the file
    QStringList faults;
    const std::optional<NameUpdates> back = parseNamesCsv(csv, &faults);
    QVERIFY2(back, qPrintable(faults.join('\n')));
    QCOMPARE(int(back->size()), 100);
    QCOMPARE(withNameUpdates(ObjectNameList{}, *back), names);
}

void TestNamesCsv::accepted_data()
{
    QTest::addColumn<QByteArray>("csv");
    QTest::addColumn<NameUpdates>("names");

    QTest::newRow("partial, out of order") << QByteArray("address,name\n42,Boiler\n7,Lobby\n")
                                           << NameUpdates{{7, "Lobby"}, {42, "Boiler"}};
    QTest::newRow("byte-order mark and CRLF") << QByteArray("\xEF\xBB\xBF"
                                                            "Address,Name\r\n1,A\r\n100,Z\r\n")
                                              << NameUpdates{{1, "A"}, {100, "Z"}};
    QTest::newRow("semicolons") << QByteArray("address;name\n3;Hall, west\n")
                                << NameUpdates{{3, "Hall, west"}};
    QTest::newRow("columns swapped")
        << QByteArray("name,address\nStore,9\n") << NameUpdates{{9, "Store"}};
    QTest::newRow("leading zeros and blank lines")
        << QByteArray("address,name\n\n007,Seven\n   \n") << NameUpdates{{7, "Seven"}};
    QTest::newRow("empty name clears") << QByteArray("address,name\n5,\n") << NameUpdates{{5, ""}};
    QTest::newRow("quoted line break")
        << QByteArray("address,name\n2,\"a\nb\"\n3,c\n") << NameUpdates{{2, "a\nb"}, {3, "c"}};
    QTest::newRow("no line end at the end")
        << QByteArray("address,name\n8,Last") << NameUpdates{{8, "Last"}};
    QTest::newRow("Latin-1 letters") << QByteArray("address,name\n4,Gr\xC3\xBC\xC3\x9F"
                                                   "e\n")
                                     << NameUpdates{{4, "Gr\xFC\xDF"
                                                        "e"}};
}

void TestNamesCsv::accepted()
{
    QFETCH(QByteArray, csv);
    QFETCH(NameUpdates, names);
    QStringList faults;
    const std::optional<NameUpdates> got = parseNamesCsv(csv, &faults);
    QVERIFY2(got, qPrintable(faults.join('\n')));
    QCOMPARE(*got, names);
}

void TestNamesCsv::refused_data()
{
    QTest::addColumn<QByteArray>("csv");
    QTest::addColumn<QString>("fault");

    QTest::newRow("20 characters")
        << QByteArray("address,name\n1,ok\n12,12345678901234567890\n")
        << "line 3: the name of address 12 has 20 characters, at most 19";
    QTest::newRow("no Latin-1 byte")
        << QByteArray("address,name\n1,ok\n2,ok\n3,Price \xE2\x82\xAC\n")
        << "line 4: the name of address 3 holds \"\u20AC\"";
    QTest::newRow("line of a row after a quoted line break")
        << QByteArray("address,name\n1,\"a\nb\"\n2,\xE4\xB8\xAD\n")
        << "line 4: the name of address 2";
    QTest::newRow("not UTF-8") << QByteArray("address,name\n1,ok\n2,Caf\xE9\n")
                               << "line 3: not UTF-8";
    QTest::newRow("address 0") << QByteArray("address,name\n0,x\n") << "line 2: address \"0\"";
    QTest::newRow("address 101") << QByteArray("address,name\n101,x\n")
                                 << "line 2: address \"101\"";
    QTest::newRow("address that looks like a placeholder")
        << QByteArray("address,name\n%1,x\n")
        << "line 2: address \"%1\" is not a number from 1 to 100";
    QTest::newRow("address in hex") << QByteArray("address,name\n0x5,x\n") << "line 2: address";
    QTest::newRow("address twice")
        << QByteArray("address,name\n5,a\n6,b\n5,c\n") << "line 4: address 5 is also on line 2";
    QTest::newRow("three fields") << QByteArray("address,name\n5,a,b\n")
                                  << "line 2: expected 2 fields";
    QTest::newRow("no header") << QByteArray("1,Hall\n2,Lobby\n") << "line 1: the first row";
    QTest::newRow("header only") << QByteArray("address,name\n")
                                 << "line 1: the file holds no names";
    QTest::newRow("empty file") << QByteArray() << "line 1: the first row";
    QTest::newRow("quote left open")
        << QByteArray("address,name\n5,\"Hall\n6,x\n") << "line 2: a quote is left open";
    QTest::newRow("text after a closing quote")
        << QByteArray("address,name\n5,\"Hall\"x\n") << "line 2: text after a closing quote";
    QTest::newRow("stray quote") << QByteArray("address,name\n5,Ha\"ll\n")
                                 << "line 2: a quote inside an unquoted field";
    QTest::newRow("far too large")
        << QByteArray(MaxNamesCsvSize + 1, 'a') << "the file is larger than";
}

void TestNamesCsv::refused()
{
    QFETCH(QByteArray, csv);
    QFETCH(QString, fault);
    QStringList faults;
    QVERIFY(!parseNamesCsv(csv, &faults));
    QVERIFY2(!faults.isEmpty() && faults.first().startsWith(fault), qPrintable(faults.join('\n')));
}

void TestNamesCsv::everyFaultIsReported()
{
    QByteArray csv = "address,name\n1,fine\n2,12345678901234567890\n3,fine\n4,\xE2\x82\xAC\n";
    QStringList faults;
    QVERIFY(!parseNamesCsv(csv, &faults));
    QCOMPARE(faults.size(), 2);
    QVERIFY(faults[0].startsWith("line 3:") && faults[1].startsWith("line 5:"));

    csv = "address,name\n";
    for (int n = 1; n <= 30; ++n)
        csv += QByteArray::number(n) + ",12345678901234567890\n";
    QVERIFY(!parseNamesCsv(csv, &faults));
    QCOMPARE(faults.size(), 21); // twenty listed, then the count of the rest
    QCOMPARE(faults.last(), QStringLiteral("... and 10 more"));
}

void TestNamesCsv::updatesLeaveOtherNames()
{
    ObjectNameList names;
    names.fill("same");
    const ObjectNameList updated = withNameUpdates(names, {{1, "first"}, {100, "last"}});
    QCOMPARE(updated[0], QByteArray("first"));
    QCOMPARE(updated[99], QByteArray("last"));
    QCOMPARE(int(std::count(updated.begin(), updated.end(), QByteArray("same"))), 98);
}

// A names CSV opened in a spreadsheet must not run a name as a formula, and
// what was written must read back as the same name.
void TestNamesCsv::spreadsheetCells_data()
{
    QTest::addColumn<QByteArray>("name");
    QTest::addColumn<QByteArray>("row"); // as written, after "1,"
    QTest::newRow("=") << QByteArray("=HYPERLINK(x)") << QByteArray("'=HYPERLINK(x)");
    QTest::newRow("+") << QByteArray("+cmd|x") << QByteArray("'+cmd|x");
    QTest::newRow("@") << QByteArray("@SUM(1)") << QByteArray("'@SUM(1)");
    QTest::newRow("-") << QByteArray("-2+3") << QByteArray("'-2+3");
    QTest::newRow("tab") << QByteArray("\tx") << QByteArray("'\tx");
    QTest::newRow("apostrophe before =") << QByteArray("'=x") << QByteArray("''=x");
    QTest::newRow("plain apostrophe") << QByteArray("'abc") << QByteArray("'abc");
    QTest::newRow("inner =") << QByteArray("a=b") << QByteArray("a=b");
    QTest::newRow("CRLF inside") << QByteArray("a\r\nb") << QByteArray("\"a\r\nb\"");
}

void TestNamesCsv::spreadsheetCells()
{
    QFETCH(QByteArray, name);
    QFETCH(QByteArray, row);
    const QByteArray csv = namesToCsv(NameUpdates{{1, name}});
    QCOMPARE(csv, "address,name\r\n1," + row + "\r\n");
    QStringList faults;
    const std::optional<NameUpdates> back = parseNamesCsv(csv, &faults);
    QVERIFY2(back, qPrintable(faults.join('\n')));
    QCOMPARE(back->at(1), name);
}

QTEST_GUILESS_MAIN(TestNamesCsv)
#include "tst_namescsv.moc"
