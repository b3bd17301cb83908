// Load and first call: loading the add-in and getting it ready for its first
// CallAsFunc (dlopen, GetClassObject, setMemManager, Init), against loading a
// trivial library that links the same Qt modules and creates the application
// object. Loading happens once per process, so every measurement is a fresh
// child process (the probe, which has no Qt of its own): "cold" as in the
// platform's process, where the add-in brings Qt in, and "Qt premapped",
// where only the libraries' own work is timed.
//
//   bench_load [--runs N]

#include "benchoptions.h"

#include <QCoreApplication>
#include <QProcess>
#include <QProcessEnvironment>
#include <QStringList>
#include <QTemporaryDir>

#include <algorithm>
#include <cstdio>
#include <vector>

namespace {

struct Sample
{
    double loadMs = 0;
    double readyMs = 0;
};

struct Series
{
    std::vector<double> load;
    std::vector<double> ready;

    static double best(std::vector<double> values) { return *std::min_element(values.begin(), values.end()); }
    static double median(std::vector<double> values)
    {
        std::sort(values.begin(), values.end());
        return values[values.size() / 2];
    }
};

bool probe(const QProcessEnvironment &environment, const QString &kind, const QString &library, bool premap,
           Sample &sample)
{
    QStringList arguments{kind, library};
    if (premap)
        arguments << QStringLiteral("--premap");
    QProcess process;
    process.setProcessEnvironment(environment);
    process.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    process.start(QStringLiteral(LUMARO_LOADPROBE_PATH), arguments);
    if (!process.waitForFinished(60000) || process.exitStatus() != QProcess::NormalExit || process.exitCode() != 0)
        return false;
    const QStringList fields = QString::fromLatin1(process.readAllStandardOutput()).split(QLatin1Char(' '));
    if (fields.size() != 2)
        return false;
    sample.loadMs = fields.at(0).trimmed().toDouble() / 1e6;
    sample.readyMs = fields.at(1).trimmed().toDouble() / 1e6;
    return sample.readyMs > 0;
}

} // namespace

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    const int runs = intOption(QCoreApplication::arguments(), QStringLiteral("--runs"), 15);

    // The add-in writes its log and settings below this root.
    QTemporaryDir root;
    if (!root.isValid())
        return 1;
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert(QStringLiteral("VXDRIVER_ROOT"), root.path());

    const QString addin = QStringLiteral(LUMARO_ADDIN_PATH);
    const QString trivial = QStringLiteral(LUMARO_TRIVIAL_PATH);
    std::printf("Add-in:  %s\nTrivial: %s\nbest and median of %d fresh processes each\n\n", qPrintable(addin),
                qPrintable(trivial), runs);

    for (const bool premap : {false, true}) {
        Series addinSeries;
        Series trivialSeries;
        // One round unmeasured, for the page cache; then the two in alternation.
        for (int run = -1; run < runs; ++run) {
            Sample addinSample;
            Sample trivialSample;
            if (!probe(environment, QStringLiteral("addin"), addin, premap, addinSample)
                || !probe(environment, QStringLiteral("trivial"), trivial, premap, trivialSample)) {
                std::fprintf(stderr, "a probe failed\n");
                return 1;
            }
            if (run < 0)
                continue;
            addinSeries.load.push_back(addinSample.loadMs);
            addinSeries.ready.push_back(addinSample.readyMs);
            trivialSeries.load.push_back(trivialSample.loadMs);
            trivialSeries.ready.push_back(trivialSample.readyMs);
        }
        const double addinBest = Series::best(addinSeries.ready);
        const double trivialBest = Series::best(trivialSeries.ready);
        std::printf("%s\n", premap ? "Qt premapped (the libraries' own work)" : "cold (Qt loaded by the library)");
        std::printf("  add-in   load %7.2f ms   ready for first call %7.2f ms (median %7.2f)\n",
                    Series::best(addinSeries.load), addinBest, Series::median(addinSeries.ready));
        std::printf("  trivial  load %7.2f ms   ready for first call %7.2f ms (median %7.2f)\n",
                    Series::best(trivialSeries.load), trivialBest, Series::median(trivialSeries.ready));
        std::printf("  ratio add-in/trivial %.2f (best), %.2f (median)\n\n", addinBest / trivialBest,
                    Series::median(addinSeries.ready) / Series::median(trivialSeries.ready));
    }
    return 0;
}
