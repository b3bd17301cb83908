// Goods table reading: readGoodsTable against a bare QXmlStreamReader pass
// over the same text that only reads the attributes, in time and in peak
// memory above the text. The DOM reader that readGoodsTable falls back on is
// measured alongside, as it was the whole reader before.
//
//   bench_goodstable [--rows N] [--runs N] [--save FILE]
//
// Peak memory is taken in a fresh child process per reader (this program run
// with --peak), so that one reader's peak cannot hide another's.

#include "equipment/goodstable.h"
#include "equipment/goodstabledom.h"
#include "processprobe.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QTextStream>
#include <QXmlStreamReader>

#include <algorithm>
#include <cstdio>
#include <functional>
#include <random>

namespace {

const char *const names[] = {"Яблоки", "Груши", "Бананы", "Апельсины", "Мандарины", "Сыр",
                             "Колбаса", "Ветчина", "Сельдь", "Печенье", "Конфеты", "Орехи",
                             "Курага", "Изюм", "Картофель", "Морковь", "Томаты", "Огурцы",
                             "Салат", "Филе куриное"};
const char *const kinds[] = {"Гала", "весовые", "«Российский» 50%", "докторская ГОСТ",
                             "слабосолёная", "овсяное развесное", "шоколадные ассорти",
                             "грецкие очищенные", "светлый", "молодой", "черри на ветке",
                             "&quot;Деревенский&quot;", "охлаждённое", "Марокко", "мытая"};
const char *const descriptions[] = {"Весовой товар", "Нарезка на месте", "Хранить при +2..+6",
                                    "Производство: Россия", "Фасовка в магазине"};

template <size_t N>
QString pickFrom(const char *const (&list)[N], std::mt19937 &random)
{
    return QString::fromUtf8(list[random() % N]);
}

// A table as the business system writes it: one Record per line, Cyrillic
// names, prices with a comma or a point, and now and then a row the rules
// skip (no number, a code in letters, no name, no price).
QString makeTable(int rows)
{
    std::mt19937 random(515);
    QString text;
    text.reserve(rows * 130);
    text += QStringLiteral("<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<Table>\n");
    for (int i = 0; i < rows; ++i) {
        const int plu = i % 50 == 49 ? 0 : i + 1;
        const QString code = i % 97 == 96 ? QStringLiteral("ABC")
                                          : QStringLiteral("46%1").arg(1000000000 + int(random() % 900000000), 11, 10, QLatin1Char('0'));
        const QString name = i % 131 == 130 ? QString() : pickFrom(names, random) + QLatin1Char(' ') + pickFrom(kinds, random);
        const QChar point = random() % 2 ? QLatin1Char(',') : QLatin1Char('.');
        const QString price = QStringLiteral("%1%2%3").arg(10 + random() % 2000).arg(point).arg(random() % 100, 2, 10, QLatin1Char('0'));

        text += QStringLiteral("  <Record PLU=\"%1\" Code=\"%2\" Name=\"%3\"").arg(plu).arg(code, name);
        if (i % 173 != 172)
            text += QStringLiteral(" Price=\"%1\"").arg(price);
        if (random() % 10 < 3)
            text += QStringLiteral(" Description=\"%1\"").arg(pickFrom(descriptions, random));
        if (random() % 10 < 9)
            text += QStringLiteral(" ShelfLife=\"%1\"").arg(1 + random() % 365);
        text += QStringLiteral("/>\n");
    }
    text += QStringLiteral("</Table>\n");
    text.squeeze();
    return text;
}

// The baseline: a stream reader pass that touches every attribute value of
// every element and keeps nothing.
qint64 streamPass(const QString &text)
{
    QXmlStreamReader reader(text);
    reader.setNamespaceProcessing(false);
    qint64 characters = 0;
    while (!reader.atEnd()) {
        if (reader.readNext() != QXmlStreamReader::StartElement)
            continue;
        const QXmlStreamAttributes attributes = reader.attributes();
        for (const QXmlStreamAttribute &attribute : attributes)
            characters += attribute.value().size();
    }
    return reader.hasError() ? -1 : characters;
}

// Rows read by a goods table reader; the records are part of its cost.
using TableReader = std::function<bool(const QString &, QList<GoodsRecord *> &, GoodsTableError &)>;

int readRows(const TableReader &reader, const QString &text)
{
    QList<GoodsRecord *> goods;
    GoodsTableError error;
    if (!reader(text, goods, error)) {
        std::fprintf(stderr, "table not read: %s\n", qPrintable(error.message));
        return -1;
    }
    const int count = goods.size();
    qDeleteAll(goods);
    return count;
}

struct Reader
{
    const char *key;
    const char *label;
    std::function<qint64(const QString &)> run;
};

QList<Reader> readers()
{
    return {
        {"stream", "bare stream pass", streamPass},
        {"table", "readGoodsTable", [](const QString &text) { return readRows(readGoodsTable, text); }},
        {"dom", "DOM reader (before)", [](const QString &text) { return readRows(readGoodsTableDom, text); }},
    };
}

// Child process: the reader's peak resident memory above what the process
// held with the text built, in bytes.
int measurePeak(const QByteArray &key, int rows)
{
    const QString text = makeTable(rows);
    const qint64 before = residentKiB();
    PeakMemory peak;
    if (before < 0 || !peak.start()) {
        std::fprintf(stderr, "cannot measure resident memory here\n");
        return 1;
    }

    for (const Reader &reader : readers()) {
        if (key != reader.key)
            continue;
        if (reader.run(text) < 0)
            return 1;
        std::printf("%lld\n", (peak.peakKiB() - before) * 1024);
        return 0;
    }
    std::fprintf(stderr, "no reader %s\n", key.constData());
    return 1;
}

qint64 peakInChild(const char *key, int rows)
{
    QProcess child;
    child.start(QCoreApplication::applicationFilePath(),
                {QStringLiteral("--peak"), QString::fromLatin1(key), QStringLiteral("--rows"),
                 QString::number(rows)});
    if (!child.waitForFinished(-1) || child.exitCode() != 0) {
        std::fprintf(stderr, "%s", child.readAllStandardError().constData());
        return -1;
    }
    return child.readAllStandardOutput().trimmed().toLongLong();
}

double megabytes(qint64 bytes)
{
    return bytes / (1024.0 * 1024.0);
}

} // namespace

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    const QStringList arguments = app.arguments();
    auto option = [&](const char *name, int fallback) {
        const int at = arguments.indexOf(QString::fromLatin1(name));
        return at >= 0 && at + 1 < arguments.size() ? arguments.at(at + 1).toInt() : fallback;
    };
    const int rows = option("--rows", 100000);
    const int runs = qMax(1, option("--runs", 9));

    const int peakAt = arguments.indexOf(QStringLiteral("--peak"));
    if (peakAt >= 0 && peakAt + 1 < arguments.size())
        return measurePeak(arguments.at(peakAt + 1).toLatin1(), rows);

    const QString text = makeTable(rows);
    const int saveAt = arguments.indexOf(QStringLiteral("--save"));
    if (saveAt >= 0 && saveAt + 1 < arguments.size()) {
        QFile file(arguments.at(saveAt + 1));
        if (!file.open(QIODevice::WriteOnly) || file.write(text.toUtf8()) < 0)
            return 1;
        return 0;
    }
    std::printf("Goods table: %d rows, %.1f M characters (%.1f MB as text)\n", rows,
                text.size() / 1e6, megabytes(text.size() * 2));

    const QList<Reader> all = readers();
    QVector<qint64> best(all.size(), std::numeric_limits<qint64>::max());
    QVector<qint64> results(all.size());
    // Interleaved runs, best of each: the machine is shared and noisy.
    for (int run = 0; run < runs; ++run) {
        for (int i = 0; i < all.size(); ++i) {
            QElapsedTimer timer;
            timer.start();
            results[i] = all.at(i).run(text);
            best[i] = qMin(best[i], timer.nsecsElapsed());
        }
    }
    if (results.contains(-1))
        return 1;
    if (results[1] != results[2]) {
        std::fprintf(stderr, "readers disagree: %lld and %lld rows\n", results[1], results[2]);
        return 1;
    }

    QVector<qint64> peak(all.size());
    for (int i = 0; i < all.size(); ++i) {
        peak[i] = peakInChild(all.at(i).key, rows);
        if (peak[i] < 0)
            return 1;
    }

    std::printf("%-22s %11s %d %18s\n", "", "time, best of", runs, "peak above text");
    for (int i = 0; i < all.size(); ++i)
        std::printf("%-22s %11.1f ms %15.1f MB\n", all.at(i).label, best[i] / 1e6,
                    megabytes(peak[i]));
    std::printf("rows accepted: %lld\n\n", results[1]);

    auto ratios = [&](int i) {
        std::printf("%-22s time %5.2f   memory %5.2f\n", all.at(i).label,
                    double(best[i]) / best[0], double(peak[i]) / peak[0]);
    };
    std::printf("Ratios to the bare stream pass (goal for readGoodsTable: at most 1.5 each):\n");
    ratios(1);
    ratios(2);
    const bool met = best[1] <= 1.5 * best[0] && peak[1] <= 1.5 * peak[0];
    std::printf("goal %s\n", met ? "met" : "NOT met");
    return 0;
}
