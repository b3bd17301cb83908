// The add-in package: MANIFEST.XML as the platform reads it, and each library it names.
#include <QCryptographicHash>
#include <QDomDocument>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>
#include <QtTest>

namespace {

const QString script = QStringLiteral(LUMARO_SOURCE_DIR "/packaging/make_package.cmake");
const QString addin = QStringLiteral(LUMARO_ADDIN_PATH);

QByteArray digest(const QString &path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return {};
    return QCryptographicHash::hash(file.readAll(), QCryptographicHash::Sha256);
}

int cmake(const QStringList &arguments, const QString &dir, QString *output = nullptr)
{
    QProcess process;
    process.setWorkingDirectory(dir);
    process.setProcessChannelMode(QProcess::MergedChannels);
    process.start(QStringLiteral("cmake"), arguments);
    if (!process.waitForStarted(30000))
        return -2;
    if (!process.waitForFinished(60000))
        return -1;
    if (output)
        *output = QString::fromLocal8Bit(process.readAll());
    return process.exitCode();
}

} // namespace

class TestPackage : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase()
    {
        if (cmake({QStringLiteral("--version")}, QDir::tempPath()) == -2)
            QSKIP("no cmake to run here: the package is made and checked on the build machine");
    }

    void packageHoldsManifestAndLibraries_data()
    {
        QTest::addColumn<QStringList>("entries");
        QTest::newRow("one library") << QStringList{"Linux|x86_64|" + addin};
        // The same file under two architectures stands for a second build.
        QTest::newRow("two builds") << QStringList{"Linux|x86_64|" + addin, "Linux|i386|" + addin};
        QTest::newRow("windows dll") << QStringList{"Windows|i386|" + addin};
    }

    void packageHoldsManifestAndLibraries()
    {
        QFETCH(QStringList, entries);
        QTemporaryDir dir;
        QVERIFY(dir.isValid());
        const QString archive = dir.filePath("addin.zip");
        QString log;
        QCOMPARE(cmake({"-DENTRIES=" + entries.join(','), "-DOUT_DIR=" + dir.filePath("stage"),
                        "-DARCHIVE=" + archive, "-P", script},
                       dir.path(), &log),
                 0);

        // Unpacked afresh, as the platform would.
        QVERIFY(QDir(dir.path()).mkdir("unpacked"));
        QCOMPARE(cmake({"-E", "tar", "xf", archive}, dir.filePath("unpacked"), &log), 0);

        QFile manifest(dir.filePath("unpacked/MANIFEST.XML"));
        QVERIFY(manifest.open(QIODevice::ReadOnly));
        QDomDocument doc;
        QString error;
        QVERIFY2(doc.setContent(&manifest, true, &error), qPrintable(error));
        const QDomElement bundle = doc.documentElement();
        QCOMPARE(bundle.localName(), QStringLiteral("bundle"));
        QCOMPARE(bundle.namespaceURI(), QStringLiteral("http://v8.1c.ru/8.2/addin/bundle"));

        const QDomNodeList components = bundle.elementsByTagNameNS(bundle.namespaceURI(), "component");
        QCOMPARE(components.size(), entries.size());
        QStringList paths;
        for (int i = 0; i < components.size(); ++i) {
            const QDomElement c = components.at(i).toElement();
            const QStringList entry = entries.at(i).split('|');
            QCOMPARE(c.attribute("os"), entry.at(0));
            QCOMPARE(c.attribute("arch"), entry.at(1));
            QCOMPARE(c.attribute("type"), QStringLiteral("native"));
            const QString path = c.attribute("path");
            QVERIFY(!path.isEmpty() && !path.contains('/'));
            QVERIFY2(!paths.contains(path), "two components share one file");
            paths << path;
            QCOMPARE(digest(dir.filePath("unpacked/" + path)), digest(entry.at(2)));
        }
    }

    void missingLibraryFails()
    {
        QTemporaryDir dir;
        QString log;
        QVERIFY(cmake({"-DENTRIES=Linux|x86_64|" + dir.filePath("none.so"), "-DOUT_DIR=" + dir.filePath("stage"),
                       "-DARCHIVE=" + dir.filePath("a.zip"), "-P", script},
                      dir.path(), &log) != 0);
        QVERIFY(log.contains("No library at"));
        QVERIFY(!QFile::exists(dir.filePath("a.zip")));
    }
};

QTEST_GUILESS_MAIN(TestPackage)
#include "tst_package.moc"
