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
    void doublesShortestAndExact();
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

    // Every double as the shortest text that reads back as it, in plain
    // notation, ".0" after a whole number.
    const QPair<double, const char *> doubles[] = {
        {3.0, "3.0"},           {0.1, "0.1"},           {100.0, "100.0"},         {100000.0, "100000.0"},
        {89.5, "89.5"},         {9999.99, "9999.99"},   {12345.67, "12345.67"},   {123456.78, "123456.78"},
        {1234567.0, "1234567.0"}, {1000000.0, "1000000.0"}, {10000.55, "10000.55"}, {12345.678, "12345.678"},
        {-0.0, "-0.0"},         {0.000001, "0.000001"}, {1e15, "1000000000000000.0"}, {0.1 + 0.2, "0.30000000000000004"},
        {123456789012.34, "123456789012.34"}, {-98765.4321, "-98765.4321"},
    };
    for (const auto &row : doubles)
        QTest::newRow(qPrintable(QStringLiteral("double %1").arg(QLatin1String(row.second)))) << QVariant(row.first)
                                                                                             << QByteArray(row.second);
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

// Every double is written as Qt's shortest plain text, with ".0" where that
// looks like an integer, and reads back as the very same double; prices in
// hundredths take a shorter road there, so they are checked all of them.
void TestWriter::doublesShortestAndExact()
{
    const auto reference = [](double value) {
        QByteArray text = QByteArray::number(value, 'f', QLocale::FloatingPointShortest);
        if (std::signbit(value) && !text.startsWith('-'))
            text.prepend('-');
        if (!text.contains('.'))
            text += ".0";
        return text;
    };
    const auto check = [&](double value) {
        const QByteArray written = MJson::serialize(value);
        bool ok = false;
        const QVariant read = MJson::parse(QString::fromUtf8(written), ok);
        const double back = read.toDouble();
        if (written != reference(value) || !ok || read.userType() != QMetaType::Double
            || std::memcmp(&back, &value, sizeof(value)) != 0) {
            qWarning("%.17g: wrote %s, Qt prints %s", value, written.constData(), reference(value).constData());
            return false;
        }
        return true;
    };

    int mismatches = 0;
    for (qint64 n = -1000100; n <= 1000100; ++n)
        mismatches += !check(double(n) / 100.0);
    const double odd[] = {0.0, -0.0, 9999.995, -9999.995, 9999.994999, 1000.125, 100000.5, 0.005, 0.015, 1e-5,
                          12.345, 1e4, 1e4 - 1e-12, 99999.99, 1e13, 1e13 - 0.01, -1e13 + 0.01, 1e300, 5e-324};
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
        // Hundredths up to the end of the short road and past it.
        mismatches += !check(double(qint64(random() % 4000000000000000) - 2000000000000000) / 100.0);
    }
    QCOMPARE(mismatches, 0);
}

QTEST_APPLESS_MAIN(TestWriter)
#include "tst_writer.moc"
