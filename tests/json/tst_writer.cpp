// ctest-timeout: 60
#include "json/mjson.h"

#include <QtTest>

#include <cmath>
#include <cstring>
#include <limits>
#include <random>

using Map = QVariantMap;
using List = QVariantList;

class TestWriter : public QObject
{
    Q_OBJECT

private slots:
    void serialize_data();
    void serialize();
    void wireExamples_data();
    void wireExamples();
    void readsBack();
    void doublesAsQtPrintsThem();
};

void TestWriter::serialize_data()
{
    QTest::addColumn<QVariant>("value");
    QTest::addColumn<QByteArray>("expected"); // null: the writer must refuse

    QTest::newRow("key order") << QVariant(Map{{"b", 2}, {"a", 1}}) << QByteArray(R"({ "a" : 1, "b" : 2 })");
    QTest::newRow("empty list") << QVariant(List()) << QByteArray("[  ]");
    QTest::newRow("empty map") << QVariant(Map()) << QByteArray("{  }");
    QTest::newRow("nested") << QVariant(Map{{"k", List{1, "x", QVariant(), false}}})
                            << QByteArray(R"({ "k" : [ 1, "x", null, false ] })");
    QTest::newRow("hash") << QVariant(QVariantHash{{"h", true}}) << QByteArray(R"({ "h" : true })");
    QTest::newRow("string list") << QVariant(QStringList{"a", "b\""}) << QByteArray(R"([ "a", "b\"" ])");

    QTest::newRow("double 3") << QVariant(3.0) << QByteArray("3.0");
    QTest::newRow("double 0.1") << QVariant(0.1) << QByteArray("0.1");
    QTest::newRow("double 100") << QVariant(100.0) << QByteArray("100.0");
    QTest::newRow("double 100000") << QVariant(100000.0) << QByteArray("100000.0");
    QTest::newRow("double 1000000") << QVariant(1000000.0) << QByteArray("1e+06");
    QTest::newRow("double 1234567") << QVariant(1234567.0) << QByteArray("1.23457e+06");
    QTest::newRow("double 12345.678") << QVariant(12345.678) << QByteArray("12345.7");
    QTest::newRow("float") << QVariant(89.5f) << QByteArray("89.5");
    QTest::newRow("nan") << QVariant(std::nan("")) << QByteArray();
    QTest::newRow("infinity") << QVariant(std::numeric_limits<double>::infinity()) << QByteArray();

    QTest::newRow("int") << QVariant(-17) << QByteArray("-17");
    QTest::newRow("longlong min") << QVariant(std::numeric_limits<qlonglong>::min())
                                  << QByteArray("-9223372036854775808");
    QTest::newRow("ulonglong max") << QVariant(std::numeric_limits<qulonglong>::max())
                                   << QByteArray("18446744073709551615");
    QTest::newRow("bool") << QVariant(true) << QByteArray("true");
    QTest::newRow("invalid") << QVariant() << QByteArray("null");

    QTest::newRow("digits stay text") << QVariant("123") << QByteArray(R"("123")");
    QTest::newRow("null string") << QVariant(QString()) << QByteArray(R"("")");
    QTest::newRow("tab and slash") << QVariant(QString("a\tb/x")) << QByteArray(R"("a\tb/x")");
    QTest::newRow("escapes") << QVariant(QString("\\\"\b\f\n\r")) << QByteArray(R"("\\\"\b\f\n\r")");
    QTest::newRow("raw control") << QVariant(QString("a\x01z")) << QByteArray("\"a\x01z\"");
    QTest::newRow("byte array") << QVariant(QByteArray("q\"")) << QByteArray(R"("q\"")");
    QTest::newRow("date") << QVariant(QDate(2019, 3, 5))
                          << "\"" + QDate(2019, 3, 5).toString(Qt::TextDate).toUtf8() + "\"";

    // Non-ASCII text goes out exactly as Qt encodes it, odd surrogates included.
    const QPair<const char *, QString> texts[] = {
        {"utf-8 text", QString::fromUtf8("\xC3\xA4\xE2\x82\xAC\xF0\x9F\x98\x80 \xD0\xAF")},
        {"utf-8 lone high surrogate at end", QString("a") + QChar(0xD800)},
        {"utf-8 lone high surrogate", QString(QChar(0xD800)) + "a"},
        {"utf-8 lone low surrogates", QString(QChar(0xDC00)) + QChar(0xD83D) + QChar(0xDE00) + QChar(0xDC00)},
    };
    for (const auto &text : texts)
        QTest::newRow(text.first) << QVariant(text.second) << "\"" + text.second.toUtf8() + "\"";

    QTest::newRow("unwritable element") << QVariant(List{1, QVariant(QPoint(1, 2))}) << QByteArray();
    QTest::newRow("unwritable member") << QVariant(Map{{"a", 1}, {"b", QVariant(QPoint(1, 2))}})
                                       << QByteArray();
}

void TestWriter::serialize()
{
    QFETCH(QVariant, value);
    QFETCH(QByteArray, expected);

    bool ok = expected.isNull();
    const QByteArray text = MJson::serialize(value, ok);
    QCOMPARE(text, expected);
    QCOMPARE(text.isNull(), expected.isNull());
    QCOMPARE(ok, !expected.isNull());
    QCOMPARE(MJson::serialize(value), expected);
}

static QVariantMap request(int id, const QString &command, const QVariantMap &fields)
{
    QVariantMap data{{"application", "Vx LS515 scale driver for 1C (Native)."},
                     {"version", "1.0.1.6"},
                     {"compile-date", "23-10-2018"}};
    for (auto it = fields.cbegin(); it != fields.cend(); ++it)
        data.insert(it.key(), it.value());
    return QVariantMap{{"id", id}, {"command", command}, {"data", data}};
}

static QVariantMap goodsRequest()
{
    return request(5, "UpdateGoods",
                   {{"goods-no", 17},
                    {"goods-add-code", qlonglong(2000001)},
                    {"goods-name", "Apples"},
                    {"goods-price", 89.5},
                    {"goods-shelf-life", 364},
                    {"goods-owner-group", 1}});
}

void TestWriter::wireExamples_data()
{
    QTest::addColumn<QVariantMap>("value");
    QTest::addColumn<QByteArray>("expected");

    const QDateTime when(QDate(2019, 3, 5), QTime(14, 7, 9));
    QTest::newRow("Link") << request(1, "Link", {})
        << QByteArray(R"({ "command" : "Link", "data" : { "application" : "Vx LS515 scale driver for 1C (Native).", )"
                      R"("compile-date" : "23-10-2018", "version" : "1.0.1.6" }, "id" : 1 })");
    QTest::newRow("SetDateTime")
        << request(2, "SetDateTime",
                   {{"date", when.toString("dd-MM-yyyy")}, {"time", when.toString("hh:mm:ss")}})
        << QByteArray(R"({ "command" : "SetDateTime", "data" : { "application" : "Vx LS515 scale driver for 1C (Native).", )"
                      R"("compile-date" : "23-10-2018", "date" : "05-03-2019", "time" : "14:07:09", )"
                      R"("version" : "1.0.1.6" }, "id" : 2 })");
    QTest::newRow("UpdateGoods") << goodsRequest()
        << QByteArray(R"({ "command" : "UpdateGoods", "data" : { "application" : "Vx LS515 scale driver for 1C (Native).", )"
                      R"("compile-date" : "23-10-2018", "goods-add-code" : 2000001, "goods-name" : "Apples", )"
                      R"("goods-no" : 17, "goods-owner-group" : 1, "goods-price" : 89.5, "goods-shelf-life" : 364, )"
                      R"("version" : "1.0.1.6" }, "id" : 5 })");
}

void TestWriter::wireExamples()
{
    QFETCH(QVariantMap, value);
    QFETCH(QByteArray, expected);

    QCOMPARE(MJson::serialize(value), expected);
}

// What the writer produces, the reader must take back unchanged.
void TestWriter::readsBack()
{
    QVariantMap value = goodsRequest();
    QVariantMap data = value.value("data").toMap();
    data.insert("goods-name", QString::fromUtf8("Apples \"Gala\"\t\\ \xD0\xAF\xF0\x9F\x8D\x8E\x01/"));
    data.insert("goods-add-code", qlonglong(9876543210123));
    data.insert("labels", QVariantList{QString(), QVariant(), true});
    value.insert("data", data);

    bool ok = false;
    const QVariant read = MJson::parse(QString::fromUtf8(MJson::serialize(value)), ok);
    QVERIFY(ok);
    QCOMPARE(read, QVariant(value)); // numbers come back as other integer types
}

// Every double is written as Qt prints it to six significant digits, with
// ".0" where that looks like an integer; two-decimal values take a shorter
// road there, so they are checked all of them.
void TestWriter::doublesAsQtPrintsThem()
{
    const auto reference = [](double value) {
        QByteArray text = QByteArray::number(value, 'g', 6);
        if (!text.contains('.') && !text.contains('e'))
            text += ".0";
        return text;
    };
    const auto check = [&](double value) {
        const QByteArray written = MJson::serialize(value);
        if (written != reference(value)) {
            qWarning("%.17g: wrote %s, Qt prints %s", value, written.constData(), reference(value).constData());
            return false;
        }
        return true;
    };

    int mismatches = 0;
    for (qint64 n = -1000100; n <= 1000100; ++n)
        mismatches += !check(double(n) / 100.0);
    const double odd[] = {0.0, -0.0, 9999.995, -9999.995, 9999.994999, 1000.125, 100000.5, 0.005, 0.015,
                          1e-5, 0.1 + 0.2, 12.345, 1e4, 1e4 - 1e-12, 99999.99, 123456.78, 1e300, 5e-324};
    for (double value : odd)
        mismatches += !check(value);
    std::mt19937_64 random(42);
    for (int i = 0; i < 200000; ++i) {
        const quint64 bits = random();
        double value = 0;
        std::memcpy(&value, &bits, sizeof(value));
        if (std::isfinite(value))
            mismatches += !check(value);
        mismatches += !check(double(qint64(random() % 20000000) - 10000000) / 1000.0);
        mismatches += !check(double(qint64(random() % 2000000) - 1000000) / 100.0 + 1e-9);
    }
    QCOMPARE(mismatches, 0);
}

QTEST_APPLESS_MAIN(TestWriter)
#include "tst_writer.moc"
