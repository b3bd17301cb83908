// ctest-timeout: 60
#include "json/mjson.h"

#include <QtTest>

using Map = QVariantMap;
using List = QVariantList;

// QVariant's own == converts between number types; the debug text names the
// type of every value all the way down.
static QByteArray describe(const QVariant &value)
{
    QString text;
    QDebug(&text) << value;
    return text.toUtf8();
}

class TestReader : public QObject
{
    Q_OBJECT

private slots:
    void read_data();
    void read();
    void nullText();
    void nesting_data();
    void nesting();
    void truncated_data();
    void truncated();
};

void TestReader::read_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<bool>("success");
    QTest::addColumn<QVariant>("expected");

    const QVariant none;
    QTest::newRow("object") << R"({ "a" : 1, "b" : [ true, null ] })" << true
                            << QVariant(Map{{"a", 1u}, {"b", List{true, QVariant()}}});
    QTest::newRow("optional separators") << "[1 2,,3,]" << true << QVariant(List{1u, 2u, 3u});
    QTest::newRow("members without commas") << R"({"a":1 "b":2,,})" << true
                                            << QVariant(Map{{"a", 1u}, {"b", 2u}});
    QTest::newRow("trailing text") << "{}xyz" << true << QVariant(Map());
    QTest::newRow("repeated name") << R"({"a":1,"a":"x"})" << true << QVariant(Map{{"a", "x"}});
    QTest::newRow("whitespace") << " \t\r\n[ \n1\t]" << true << QVariant(List{1u});
    QTest::newRow("keywords") << "[true false null]" << true << QVariant(List{true, false, none});
    QTest::newRow("nullx") << "nullx" << true << none;
    QTest::newRow("TRUE") << "TRUE" << false << none;
    QTest::newRow("cut keyword") << "[tru" << false << none;
    QTest::newRow("no closing brace") << R"({"a":1)" << false << none;
    QTest::newRow("cut string member") << R"({"a":"x)" << false << none;
    QTest::newRow("cut array") << "[1," << false << none;
    QTest::newRow("name without colon") << R"({"a" 1})" << false << none;
    QTest::newRow("member without value") << R"({"a":})" << false << none;
    QTest::newRow("closing bracket") << "]" << false << none;
    QTest::newRow("plus sign") << "+1" << false << none;
    QTest::newRow("empty") << "" << false << none;
    QTest::newRow("only whitespace") << " \n" << false << none;

    QTest::newRow("negative int") << "-5" << true << QVariant(-5);
    QTest::newRow("zero") << "0" << true << QVariant(0u);
    QTest::newRow("leading zeros") << "007" << true << QVariant(7u);
    QTest::newRow("minus zero") << "-0" << true << QVariant(0);
    QTest::newRow("uint max") << "4294967295" << true << QVariant(4294967295u);
    QTest::newRow("past uint") << "4294967296" << true << QVariant(qulonglong(4294967296ull));
    QTest::newRow("ulonglong max") << "18446744073709551615" << true
                                   << QVariant(qulonglong(18446744073709551615ull));
    QTest::newRow("past ulonglong") << "18446744073709551616" << true
                                    << QVariant(QString("18446744073709551616"));
    QTest::newRow("int min") << "-2147483648" << true << QVariant(int(-2147483647 - 1));
    QTest::newRow("past int") << "-2147483649" << true << QVariant(qlonglong(-2147483649ll));
    QTest::newRow("longlong min") << "-9223372036854775808" << true
                                  << QVariant(std::numeric_limits<qlonglong>::min());
    QTest::newRow("past longlong") << "-9223372036854775809" << true
                                   << QVariant(QString("-9223372036854775809"));
    QTest::newRow("double") << "1.5" << true << QVariant(1.5);
    QTest::newRow("double with exponent") << "-1.5e2" << true << QVariant(-150.0);
    QTest::newRow("unreadable double") << "1.2.3" << true << QVariant(0.0);
    QTest::newRow("exponent without point") << "1e5" << true << QVariant(QString("1e5"));
    QTest::newRow("lone minus") << "-" << true << QVariant(QString("-"));
    QTest::newRow("number then text") << "[12abc]" << false << none;

    QTest::newRow("unknown escape") << R"("a\qb")" << true << QVariant(QString("ab"));
    QTest::newRow("unicode escape") << R"("\u0041\u00e4")" << true
                                    << QVariant(QString::fromUtf8("A\xC3\xA4"));
    QTest::newRow("surrogate escapes") << R"("\ud83d\ude00")" << true
                                       << QVariant(QString::fromUtf8("\xF0\x9F\x98\x80"));
    QTest::newRow("short unicode escape") << R"("\u00")" << false << none;
    QTest::newRow("unreadable unicode escape") << R"("\uzzzz")" << true << QVariant(QString(QChar(0)));
    QTest::newRow("simple escapes") << R"("\"\\\/\b\f\n\r\t")" << true
                                    << QVariant(QString("\"\\/\b\f\n\r\t"));
    QTest::newRow("raw control and non-ASCII") << QString::fromUtf8("\"a\x01\xC3\xA4\"") << true
                                               << QVariant(QString::fromUtf8("a\x01\xC3\xA4"));
    QTest::newRow("escape then run") << R"("x\ty z\n")" << true << QVariant(QString("x\ty z\n"));
    QTest::newRow("backslash at end") << R"("ab\)" << false << none;
    QTest::newRow("unterminated") << R"("ab)" << false << none;
}

void TestReader::read()
{
    QFETCH(QString, text);
    QFETCH(bool, success);
    QFETCH(QVariant, expected);

    bool ok = !success;
    const QVariant value = MJson::parse(text, ok);
    QCOMPARE(ok, success);
    if (success)
        QCOMPARE(describe(value), describe(expected));
}

void TestReader::nullText()
{
    bool ok = false;
    QVERIFY(!MJson::parse(QString(), ok).isValid());
    QVERIFY(ok);
}

static QString nested(int depth, const QString &open, const QString &inner, const QString &close)
{
    return open.repeated(depth) + inner + close.repeated(depth);
}

void TestReader::nesting_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<bool>("success");

    const QString member = R"({"a":)";
    QTest::newRow("arrays at the bound") << nested(MJson::maxDepth, "[", "", "]") << true;
    QTest::newRow("arrays past the bound") << nested(MJson::maxDepth + 1, "[", "", "]") << false;
    QTest::newRow("objects at the bound") << nested(MJson::maxDepth, member, "1", "}") << true;
    QTest::newRow("objects past the bound") << nested(MJson::maxDepth + 1, member, "1", "}") << false;
    QTest::newRow("siblings do not add up") << "[" + QString("[[1]],").repeated(1000) + "]" << true;
    QTest::newRow("100000 arrays") << nested(100000, "[", "", "]") << false;
    QTest::newRow("100000 objects") << nested(100000, member, "1", "}") << false;
    QTest::newRow("100000 mixed") << nested(50000, "[" + member, "1", "}]") << false;
    QTest::newRow("100000 unclosed") << QString("[").repeated(100000) << false;
}

void TestReader::nesting()
{
    QFETCH(QString, text);
    QFETCH(bool, success);

    bool ok = !success;
    MJson::parse(text, ok);
    QCOMPARE(ok, success);
}

void TestReader::truncated_data()
{
    QTest::addColumn<QString>("document");

    QTest::newRow("greeting") << R"({ "id" : 1, "response" : "ConnectOk", "response-code" : 0 })";
    QTest::newRow("state") << QString::fromUtf8(
        R"({ "data" : { "compile-date" : "23-10-2018", "current-time-date" : "05-03-2019 14:07:09.120", )"
        R"("disks" : "C:\\ 20 GB; D:\\ 100 GB", "free-memory" : "1.2 GB", "goods-count" : 1532, )"
        R"("scale-model" : "LS515 \"Pro\"", "scale-serial-number" : "\u0410\u0411-0042", )"
        R"("screen-count" : 2, "user-inactive-time" : -1, "weight" : 0.125, "weight-stability" : true, )"
        R"("weight-tare" : -0.5, "labels" : [ "main", "\u00e4 \xD0\xB9" ], "spare" : null }, )"
        R"("id" : 7, "response" : "Ok", "response-code" : 0 })");
}

void TestReader::truncated()
{
    QFETCH(QString, document);

    bool ok = false;
    MJson::parse(document, ok);
    QVERIFY(ok);
    // The transport takes the first successful read of a growing buffer as the answer.
    for (int length = 0; length < document.size(); ++length) {
        MJson::parse(document.left(length), ok);
        QVERIFY2(!ok, qPrintable(document.left(length)));
    }
}

QTEST_APPLESS_MAIN(TestReader)
#include "tst_reader.moc"
