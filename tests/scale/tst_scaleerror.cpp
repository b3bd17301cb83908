#include "scale/mscaleerror.h"

#include <QCoreApplication>
#include <QTest>
#include <QTranslator>

#include <limits>

class TestScaleError : public QObject
{
    Q_OBJECT

private slots:
    void text_data();
    void text();
    void textsAreLookedUpInQObjectContext();
};

void TestScaleError::text_data()
{
    QTest::addColumn<int>("code");
    QTest::addColumn<QString>("expected");

    QTest::newRow("0") << 0 << "No error";
    QTest::newRow("2") << 2 << "No answer from scale";
    QTest::newRow("13 has no row") << 13 << "Undefined Error";
    QTest::newRow("14 has no row") << 14 << "Undefined Error";
    QTest::newRow("15 after the gap") << 15 << "OperationTerminated";
    QTest::newRow("17") << 17 << "NoPLUForTransfer";
    QTest::newRow("19") << 19 << "MaxMessage";
    QTest::newRow("21") << 21 << "NoMessageForTransfer";
    QTest::newRow("43 keeps its spelling") << 43 << "Print error: change weigth.";
    QTest::newRow("44") << 44 << "Unimplemented function.";
    QTest::newRow("45") << 45 << "Undefined Error";
    QTest::newRow("-1") << -1 << "Undefined Error";
    QTest::newRow("int min") << std::numeric_limits<int>::min() << "Undefined Error";
}

void TestScaleError::text()
{
    QFETCH(int, code);
    QFETCH(QString, expected);
    MScaleError error;
    error.setCode(code);
    QCOMPARE(error.code(), code);
    QCOMPARE(error.text(), expected);
}

namespace {
// Answers every lookup in one context with a marked text.
class ContextTranslator : public QTranslator
{
public:
    explicit ContextTranslator(const char *context) : m_context(context) {}
    bool isEmpty() const override { return false; }
    QString translate(const char *context, const char *sourceText, const char *, int) const override
    {
        if (qstrcmp(context, m_context) != 0)
            return QString();
        return QStringLiteral("[%1]").arg(QString::fromUtf8(sourceText));
    }

private:
    const char *m_context;
};
} // namespace

void TestScaleError::textsAreLookedUpInQObjectContext()
{
    ContextTranslator other("Lumaro1CDriverNative");
    QCoreApplication::installTranslator(&other);
    QCOMPARE(MScaleError(2).text(), QStringLiteral("No answer from scale"));
    QCoreApplication::removeTranslator(&other);

    ContextTranslator qobject("QObject");
    QCoreApplication::installTranslator(&qobject);
    QCOMPARE(MScaleError(2).text(), QStringLiteral("[No answer from scale]"));
    QCOMPARE(MScaleError(99).text(), QStringLiteral("[Undefined Error]"));
    QCoreApplication::removeTranslator(&qobject);
}

QTEST_GUILESS_MAIN(TestScaleError)
#include "tst_scaleerror.moc"
