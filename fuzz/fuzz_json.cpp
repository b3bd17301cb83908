// Reads the input as JSON text. Whatever reads must write, and the written
// text must read again as the same value, with the writer's known losses
// only; no proper cut of a written object, array or string may read as a
// whole document, since the transport takes the first text that reads as
// the complete answer. An answer that the transport's quick reader takes
// must be judged by it as MJson and the envelope helper judge it.
#include "fuzzsupport.h"

#include "json/mjson.h"
#include "scale/mvxprotocolsimpleprepare.h"
#include "scale/quickanswer.h"

#include <QDebug>
#include <QStringList>
#include <QVariantList>
#include <QVariantMap>

#include <cmath>
#include <cstdint>
#include <set>

namespace {

bool isInteger(const QVariant &value)
{
    switch (value.userType()) {
    case QMetaType::Int:
    case QMetaType::UInt:
    case QMetaType::LongLong:
    case QMetaType::ULongLong:
        return true;
    default:
        return false;
    }
}

// Sign and magnitude, so that values of every integer type compare exactly.
void splitInteger(const QVariant &value, bool &negative, quint64 &magnitude)
{
    if (value.userType() == QMetaType::UInt || value.userType() == QMetaType::ULongLong) {
        negative = false;
        magnitude = value.toULongLong();
        return;
    }
    const qint64 signedValue = value.toLongLong();
    negative = signedValue < 0;
    magnitude = negative ? quint64(0) - quint64(signedValue) : quint64(signedValue);
}

bool sameInteger(const QVariant &a, const QVariant &b)
{
    bool negativeA = false;
    bool negativeB = false;
    quint64 magnitudeA = 0;
    quint64 magnitudeB = 0;
    splitInteger(a, negativeA, magnitudeA);
    splitInteger(b, negativeB, magnitudeB);
    if (magnitudeA == 0 && magnitudeB == 0)
        return true;
    return negativeA == negativeB && magnitudeA == magnitudeB;
}

// A written double comes back as a double, the very same one.
bool sameDouble(double written, const QVariant &read)
{
    if (read.userType() != QMetaType::Double)
        return false;
    const double value = read.toDouble();
    return value == written && std::signbit(value) == std::signbit(written);
}

// UTF-8 cannot carry a lone surrogate; the writer's bytes replace it.
QString throughUtf8(const QString &text)
{
    return fuzzText(text.toUtf8());
}

QString debugText(const QVariant &value)
{
    QString text;
    QDebug(&text) << value;
    return text;
}

bool sameValue(const QVariant &original, const QVariant &read, QString &where);

bool sameMap(const QVariantMap &original, const QVariantMap &read, QString &where)
{
    QVariantMap expected;
    std::set<QString> merged;
    for (auto it = original.constBegin(); it != original.constEnd(); ++it) {
        const QString key = throughUtf8(it.key());
        if (expected.contains(key))
            merged.insert(key);
        expected.insert(key, it.value());
    }
    if (expected.keys() != read.keys()) {
        where = QStringLiteral("object keys");
        return false;
    }
    for (auto it = expected.constBegin(); it != expected.constEnd(); ++it) {
        // Names that only differed in lone surrogates now share one member.
        if (merged.count(it.key()))
            continue;
        if (!sameValue(it.value(), read.value(it.key()), where)) {
            where.prepend(QLatin1String("member ") + it.key() + QLatin1String(": "));
            return false;
        }
    }
    return true;
}

bool sameList(const QVariantList &original, const QVariantList &read, QString &where)
{
    if (original.size() != read.size()) {
        where = QStringLiteral("array size %1 against %2").arg(original.size()).arg(read.size());
        return false;
    }
    for (int i = 0; i < original.size(); ++i) {
        if (!sameValue(original.at(i), read.at(i), where)) {
            where.prepend(QStringLiteral("element %1: ").arg(i));
            return false;
        }
    }
    return true;
}

bool sameValue(const QVariant &original, const QVariant &read, QString &where)
{
    bool same = false;
    switch (original.userType()) {
    case QMetaType::UnknownType:
        same = !read.isValid();
        break;
    case QMetaType::Bool:
        same = read.userType() == QMetaType::Bool && read.toBool() == original.toBool();
        break;
    case QMetaType::Double:
        same = sameDouble(original.toDouble(), read);
        break;
    case QMetaType::QString:
        same = read.userType() == QMetaType::QString && read.toString() == throughUtf8(original.toString());
        break;
    case QMetaType::QVariantList:
        if (read.userType() != QMetaType::QVariantList)
            break;
        return sameList(original.toList(), read.toList(), where);
    case QMetaType::QVariantMap:
        if (read.userType() != QMetaType::QVariantMap)
            break;
        return sameMap(original.toMap(), read.toMap(), where);
    default:
        if (isInteger(original))
            same = isInteger(read) && sameInteger(original, read);
        else
            where = QStringLiteral("the reader gave a %1").arg(QLatin1String(original.typeName()));
        break;
    }
    if (!same && where.isEmpty())
        where = debugText(original) + QLatin1String(" became ") + debugText(read);
    return same;
}

// Cutting points spread over the text, all of them for a short one.
// The transport reads an answer up to its first zero byte.
void checkQuickAnswer(const QByteArray &input)
{
    QuickAnswer quick;
    if (!quick.read(input))
        return;
    const int end = input.indexOf('\0');
    bool read = false;
    const QVariantMap answer = MJson::parse(fuzzText(input.left(end < 0 ? input.size() : end)), read).toMap();
    FUZZ_CHECK(read, fuzzText(input));
    static const MVxProtocolSimplePrepare protocol;
    const int id = answer.value(QStringLiteral("id")).toInt();
    for (const int candidate : {id, id + 1, 1}) {
        for (const char *response : {"Ok", "ConnectOk"}) {
            for (const int code : {0, 3}) {
                FUZZ_CHECK(quick.isExpected(candidate, QLatin1String(response), code)
                               == protocol.isExpectedResponse(answer, candidate, QLatin1String(response), code),
                           fuzzText(input));
            }
        }
    }
}

QList<int> cutPoints(int size)
{
    QList<int> cuts;
    const int most = 48;
    if (size - 1 <= most) {
        for (int cut = 1; cut < size; ++cut)
            cuts.append(cut);
        return cuts;
    }
    for (int i = 0; i < most; ++i)
        cuts.append(1 + int(qint64(size - 2) * i / (most - 1)));
    return cuts;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    prepareFuzzProcess();
    const QByteArray input = fuzzBytes(data, size);
    checkQuickAnswer(input);

    bool read = false;
    const QVariant value = MJson::parse(fuzzText(input), read);
    if (!read)
        return 0;

    bool written = false;
    const QByteArray text = MJson::serialize(value, written);
    FUZZ_CHECK(written && !text.isNull(), QString());
    // One line on the wire, whatever the strings hold.
    FUZZ_CHECK(!text.contains('\n') && !text.contains('\r'), QString::fromUtf8(text));

    bool readAgain = false;
    const QVariant again = MJson::parse(fuzzText(text), readAgain);
    FUZZ_CHECK(readAgain, QString::fromUtf8(text));
    QString where;
    FUZZ_CHECK(sameValue(value, again, where), where + QLatin1String(" in ") + QString::fromUtf8(text));

    const char first = text.isEmpty() ? '\0' : text.at(0);
    if (first == '{' || first == '[' || first == '"') {
        for (int cut : cutPoints(text.size())) {
            bool cutReads = false;
            MJson::parse(fuzzText(text.left(cut)), cutReads);
            FUZZ_CHECK(!cutReads, QString::fromUtf8(text.left(cut)));
        }
    }
    return 0;
}
