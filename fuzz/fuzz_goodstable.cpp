// Reads the input as a goods table. A failure appends nothing and says why;
// every record obeys the row rules; and whatever the reader accepts, Qt's DOM
// reader must read to the same records, because that is the reader the
// platform's integrators know the table format by.
#include "fuzzsupport.h"

#include "equipment/goodstable.h"

#include <QDomDocument>
#include <QDomElement>
#include <QPair>

#include <cmath>
#include <memory>
#include <vector>

namespace {

struct ExpectedRecord
{
    QString name;
    qint32 number = 0;
    qint64 additionalCode = 0;
    double price = 0.0;
    qint32 shelfLife = 364;
};

// The rows as the DOM reader sees them, with the row rules applied.
bool readWithDom(const QString &table, QList<ExpectedRecord> &records, bool &tableRoot, QString &message)
{
    QDomDocument document;
    int line = 0;
    int column = 0;
    if (!document.setContent(table, false, &message, &line, &column)) {
        message += QStringLiteral(" (line %1, column %2)").arg(line).arg(column);
        return false;
    }
    const QDomElement root = document.documentElement();
    tableRoot = root.tagName() == QLatin1String("Table");
    if (!tableRoot)
        return true;
    for (QDomElement row = root.firstChildElement(QStringLiteral("Record")); !row.isNull();
         row = row.nextSiblingElement(QStringLiteral("Record"))) {
        const int plu = row.attribute(QStringLiteral("PLU")).toInt();
        // Codes are EAN-13 and longer: read as 64-bit numbers.
        const qint64 code = row.attribute(QStringLiteral("Code")).toLongLong();
        const QString name = row.attribute(QStringLiteral("Name"));
        const QString price = row.attribute(QStringLiteral("Price"));
        if (plu <= 0 || code <= 0 || code > GoodsRecord::maxAdditionalCode || name.isEmpty() || price.isEmpty())
            continue;
        ExpectedRecord record;
        record.name = name;
        record.number = plu <= maxGoodsNumber ? plu : 0;
        record.additionalCode = code;
        record.price = parsePrice(price);
        const int shelfLife = row.attribute(QStringLiteral("ShelfLife")).toInt();
        if (shelfLife >= -9999 && shelfLife <= 9999)
            record.shelfLife = shelfLife;
        records.append(record);
    }
    return true;
}

// Deepest element nesting of a read document, the root at level 1.
int elementDepth(const QString &table)
{
    QDomDocument document;
    if (!document.setContent(table, false))
        return -1;
    int deepest = 0;
    QList<QPair<QDomElement, int>> pending{{document.documentElement(), 1}};
    while (!pending.isEmpty()) {
        const QPair<QDomElement, int> next = pending.takeLast();
        deepest = qMax(deepest, next.second);
        for (QDomElement child = next.first.firstChildElement(); !child.isNull();
             child = child.nextSiblingElement())
            pending.append({child, next.second + 1});
    }
    return deepest;
}

QString describe(const GoodsRecord &record)
{
    return QStringLiteral("%1/%2/%3/%4/%5/%6")
        .arg(record.name)
        .arg(record.number)
        .arg(record.additionalCode())
        .arg(record.price, 0, 'g', 17)
        .arg(record.shelfLife)
        .arg(record.ownerGroup);
}

QString describe(const ExpectedRecord &record)
{
    return QStringLiteral("%1/%2/%3/%4/%5/1")
        .arg(record.name)
        .arg(record.number)
        .arg(record.additionalCode)
        .arg(record.price, 0, 'g', 17)
        .arg(record.shelfLife);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    prepareFuzzProcess();
    const QString table = fuzzText(fuzzBytes(data, size));

    // Records of an earlier portion that a failed read must leave alone.
    auto earlier = std::make_unique<GoodsRecord>();
    QList<GoodsRecord *> goods{earlier.get()};
    GoodsTableError error;
    const bool read = readGoodsTable(table, goods, error);

    FUZZ_CHECK(!goods.isEmpty() && goods.first() == earlier.get(), QString());
    goods.removeFirst();
    std::vector<std::unique_ptr<GoodsRecord>> owned;
    for (GoodsRecord *record : goods)
        owned.emplace_back(record);

    if (!read) {
        FUZZ_CHECK(goods.isEmpty(), QString::number(goods.size()));
        FUZZ_CHECK(error.kind != GoodsTableError::None, QString());
        FUZZ_CHECK(error.kind != GoodsTableError::NotWellFormed || !error.message.isEmpty(), QString());
        // Besides the DOM reader's own faults, only a document type
        // declaration, deep nesting, an element with too many attributes or
        // a value the DOM reader would damage may be refused.
        static const QStringList refusals = {
            QStringLiteral("too many attributes in one element"),
            QStringLiteral("character reference to no character"),
            QStringLiteral("character reference beyond U+FFFF"),
            QStringLiteral("unpaired surrogate"),
        };
        if (error.kind == GoodsTableError::NotWellFormed && !table.contains(QLatin1String("<!DOCTYPE"))
            && !refusals.contains(error.message)) {
            const int depth = elementDepth(table);
            FUZZ_CHECK(depth < 0 || depth > maxGoodsTableNesting / 2,
                       QStringLiteral("refused (%1) a table the DOM reader reads, %2 levels deep")
                           .arg(error.message)
                           .arg(depth));
        }
        if (error.kind == GoodsTableError::BadRoot) {
            QList<ExpectedRecord> none;
            bool tableRoot = true;
            QString message;
            FUZZ_CHECK(readWithDom(table, none, tableRoot, message), message);
            FUZZ_CHECK(!tableRoot, QString());
        }
        return 0;
    }

    FUZZ_CHECK(error.kind == GoodsTableError::None, error.message);
    for (const GoodsRecord *record : goods) {
        FUZZ_CHECK(record, QString());
        FUZZ_CHECK(!record->name.isEmpty(), describe(*record));
        FUZZ_CHECK(record->number >= 0 && record->number <= maxGoodsNumber, describe(*record));
        FUZZ_CHECK(record->additionalCode() > 0, describe(*record));
        FUZZ_CHECK(record->shelfLife >= -9999 && record->shelfLife <= 9999, describe(*record));
        FUZZ_CHECK(record->ownerGroup == 1, describe(*record));
        FUZZ_CHECK(std::isfinite(record->price), describe(*record));
    }

    // What the reader accepted passed its nesting and declaration checks, so
    // the DOM reader may be run on it safely.
    QList<ExpectedRecord> expected;
    bool tableRoot = false;
    QString message;
    FUZZ_CHECK(readWithDom(table, expected, tableRoot, message), message);
    FUZZ_CHECK(tableRoot, QString());
    FUZZ_CHECK(expected.size() == goods.size(),
               QStringLiteral("%1 records, the DOM reader gives %2").arg(goods.size()).arg(expected.size()));
    for (int i = 0; i < goods.size(); ++i) {
        const GoodsRecord &got = *goods.at(i);
        const ExpectedRecord &want = expected.at(i);
        const bool same = got.name == want.name && got.number == want.number
            && got.additionalCode() == want.additionalCode && got.price == want.price
            && got.shelfLife == want.shelfLife;
        FUZZ_CHECK(same, QStringLiteral("record %1: %2, the DOM reader gives %3")
                             .arg(i)
                             .arg(describe(got), describe(want)));
    }
    return 0;
}
