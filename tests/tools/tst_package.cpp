// The add-in package: MANIFEST.XML as the platform reads it, and each library it names.
// With LUMARO_PACKAGE set, installablePackage() checks that package (scripts/package.sh runs it).
#include <QDomDocument>
#include <QFile>
#include <QProcess>
#include <QSet>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QVersionNumber>
#include <QtEndian>
#include <QtTest>

namespace {

const QString script = QStringLiteral(LUMARO_SOURCE_DIR "/packaging/make_package.cmake");
const QString addin = QStringLiteral(LUMARO_ADDIN_PATH);
const QString bundleNs = QStringLiteral("http://v8.1c.ru/8.2/addin/bundle");

#ifdef Q_OS_WIN
const QString hostOs = QStringLiteral("Windows"), otherOs = QStringLiteral("Linux");
#else
const QString hostOs = QStringLiteral("Linux"), otherOs = QStringLiteral("Windows");
#endif
#ifdef Q_PROCESSOR_X86_64
const QString hostArch = QStringLiteral("x86_64"), otherArch = QStringLiteral("i386");
#else
const QString hostArch = QStringLiteral("i386"), otherArch = QStringLiteral("x86_64");
#endif
const QString hostLabel = hostOs + '|' + hostArch;

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

template<typename T>
bool readLe(const QByteArray &data, quint64 at, T *value)
{
    if (at > quint64(data.size()) || quint64(data.size()) - at < sizeof(T))
        return false;
    *value = qFromLittleEndian<T>(data.constData() + at);
    return true;
}

// A NUL-terminated name inside [begin, end) of the file.
QByteArray nameAt(const QByteArray &data, quint64 begin, quint64 end)
{
    end = qMin(end, quint64(data.size()));
    if (begin >= end)
        return {};
    const QByteArray rest = data.mid(int(begin), int(end - begin));
    const int nul = rest.indexOf('\0');
    return nul < 0 ? rest : rest.left(nul);
}

bool isDebugName(const QByteArray &name)
{
    return name.startsWith(".debug") || name.startsWith(".zdebug");
}

// What a library's own header says it is; os stays empty for neither ELF nor PE.
struct Binary
{
    QString os;
    QString arch;
    QStringList debugSections;
};

void readElf(const QByteArray &d, Binary *b)
{
    const bool is64 = d.size() > 5 && d[4] == 2;
    quint16 machine = 0;
    if (d.size() < 6 || d[5] != 1 || !readLe(d, 18, &machine))
        return;
    b->os = QStringLiteral("Linux");
    b->arch = is64 && machine == 62 ? QStringLiteral("x86_64")
            : !is64 && d[4] == 1 && machine == 3 ? QStringLiteral("i386")
                                                 : QStringLiteral("machine %1").arg(machine);
    quint64 shoff = 0;
    quint16 shentsize = 0, shnum = 0, shstrndx = 0;
    if (is64) {
        readLe(d, 0x28, &shoff);
    } else {
        quint32 off32 = 0;
        readLe(d, 0x20, &off32);
        shoff = off32;
    }
    readLe(d, is64 ? 0x3a : 0x2e, &shentsize);
    readLe(d, is64 ? 0x3c : 0x30, &shnum);
    readLe(d, is64 ? 0x3e : 0x32, &shstrndx);
    if (shoff > quint64(d.size()))
        return;
    // sh_name, and sh_offset/sh_size of one section header.
    const auto section = [&](quint64 i, quint32 *name, quint64 *offset, quint64 *size) {
        const quint64 at = shoff + i * shentsize;
        if (!is64) {
            quint32 o = 0, s = 0;
            const bool ok = readLe(d, at, name) && readLe(d, at + 0x10, &o) && readLe(d, at + 0x14, &s);
            *offset = o;
            *size = s;
            return ok;
        }
        return readLe(d, at, name) && readLe(d, at + 0x18, offset) && readLe(d, at + 0x20, size);
    };
    quint32 unused = 0;
    quint64 strOffset = 0, strSize = 0;
    if (!section(shstrndx, &unused, &strOffset, &strSize) || strOffset > quint64(d.size()))
        return;
    for (quint64 i = 0; i < shnum; ++i) {
        quint32 name = 0;
        quint64 offset = 0, size = 0;
        if (section(i, &name, &offset, &size) && name < strSize) {
            const QByteArray n = nameAt(d, strOffset + name, strOffset + strSize);
            if (isDebugName(n))
                b->debugSections << QString::fromLatin1(n);
        }
    }
}

void readPe(const QByteArray &d, Binary *b)
{
    quint32 pe = 0, signature = 0;
    quint16 machine = 0, sections = 0, optional = 0;
    quint32 symbols = 0, symbolCount = 0;
    if (!readLe(d, 0x3c, &pe) || !readLe(d, pe, &signature) || signature != 0x4550) // "PE\0\0"
        return;
    const quint64 coff = quint64(pe) + 4;
    if (!readLe(d, coff, &machine) || !readLe(d, coff + 2, &sections) || !readLe(d, coff + 8, &symbols)
        || !readLe(d, coff + 12, &symbolCount) || !readLe(d, coff + 16, &optional))
        return;
    b->os = QStringLiteral("Windows");
    b->arch = machine == 0x14c  ? QStringLiteral("i386")
            : machine == 0x8664 ? QStringLiteral("x86_64")
                                : QStringLiteral("machine 0x%1").arg(machine, 0, 16);
    // Names longer than eight bytes are "/offset" into the string table after the symbols.
    const quint64 strings = quint64(symbols) + quint64(symbolCount) * 18;
    const quint64 table = coff + 20 + optional;
    for (quint64 i = 0; i < sections; ++i) {
        QByteArray name = nameAt(d, table + i * 40, table + i * 40 + 8);
        if (name.startsWith('/') && symbols != 0)
            name = nameAt(d, strings + name.mid(1).toULongLong(), quint64(d.size()));
        // An unresolved long name is one of the linker's debug sections.
        if (isDebugName(name) || name.startsWith('/'))
            b->debugSections << QString::fromLatin1(name);
    }
}

Binary inspect(const QByteArray &data)
{
    Binary b;
    if (data.startsWith("\x7f" "ELF"))
        readElf(data, &b);
    else if (data.startsWith("MZ"))
        readPe(data, &b);
    return b;
}

QString objdump(const QString &option, const QString &path)
{
    QProcess process;
    process.start(QStringLiteral("objdump"), {option, path});
    if (!process.waitForFinished(60000) || process.exitCode() != 0)
        return QString();
    return QString::fromLocal8Bit(process.readAllStandardOutput());
}

// What would keep a Linux library from loading on an older system without
// Qt, or from staying apart from a host's own Qt: exports beyond the four
// entry points, libraries other than glibc's own, glibc symbol versions above
// 2.28, any version of the C++ runtime.
QStringList linuxLibraryFaults(const QString &path)
{
    const QString headers = objdump(QStringLiteral("-p"), path);
    const QString symbols = objdump(QStringLiteral("-T"), path);
    if (headers.isEmpty() || symbols.isEmpty())
        return {"objdump cannot read " + path};
    QStringList faults;
    const QStringList glibcLibraries{"libc.so.6", "libm.so.6", "libpthread.so.0", "libdl.so.2", "librt.so.1",
                                     "ld-linux-x86-64.so.2", "ld-linux.so.2"};
    static const QRegularExpression needed(QStringLiteral("^\\s*NEEDED\\s+(\\S+)"), QRegularExpression::MultilineOption);
    for (auto m = needed.globalMatch(headers); m.hasNext();) {
        const QString library = m.next().captured(1);
        if (!glibcLibraries.contains(library))
            faults << "needs " + library;
    }
    static const QRegularExpression version(QStringLiteral("\\b(GLIBC|GLIBCXX|CXXABI)_([0-9.]+)\\b"));
    QSet<QString> seen;
    for (auto m = version.globalMatch(headers); m.hasNext();) {
        const QRegularExpressionMatch v = m.next();
        if (seen.contains(v.captured(0)))
            continue;
        seen << v.captured(0);
        if (v.captured(1) != QLatin1String("GLIBC")
            || QVersionNumber::fromString(v.captured(2)) > QVersionNumber(2, 28))
            faults << "symbol version " + v.captured(0);
    }
    // Defined dynamic symbols: "address flags section size version name".
    QStringList exported;
    for (const QString &line : symbols.split('\n')) {
        const QStringList fields = line.simplified().split(' ');
        if (fields.size() >= 5 && line.contains(QRegularExpression(QStringLiteral("^[0-9a-f]{8,} ")))
            && !line.contains(QLatin1String("*UND*")))
            exported << fields.last();
    }
    exported.sort();
    const QStringList entryPoints{"DestroyObject", "GetClassNames", "GetClassObject", "SetPlatformCapabilities"};
    if (exported != entryPoints)
        faults << "exports " + exported.join(' ');
    return faults;
}

struct Component
{
    QString os;
    QString arch;
    QString path;
    qint64 size = 0;
};

// Unpacks the archive afresh under work, as the platform would, and returns what
// would stop the platform from loading the right library: empty when nothing would.
QStringList checkPackage(const QString &archive, const QString &work, QList<Component> *components)
{
    const QString unpacked = work + QStringLiteral("/unpacked");
    QString log;
    if (!QDir().mkpath(unpacked) || cmake({"-E", "tar", "xf", archive}, unpacked, &log) != 0)
        return {"cannot unpack " + archive + ": " + log};
    QFile manifest(unpacked + QStringLiteral("/MANIFEST.XML"));
    QDomDocument doc;
    QString error;
    if (!manifest.open(QIODevice::ReadOnly))
        return {QStringLiteral("no MANIFEST.XML")};
    if (!doc.setContent(&manifest, true, &error))
        return {"MANIFEST.XML: " + error};
    const QDomElement bundle = doc.documentElement();
    if (bundle.localName() != QLatin1String("bundle") || bundle.namespaceURI() != bundleNs)
        return {"root element is {" + bundle.namespaceURI() + '}' + bundle.localName()};

    QStringList faults;
    QSet<QString> labels;
    const QDomNodeList list = bundle.elementsByTagNameNS(bundleNs, QStringLiteral("component"));
    if (list.isEmpty())
        faults << QStringLiteral("no components");
    for (int i = 0; i < list.size(); ++i) {
        const QDomElement c = list.at(i).toElement();
        const Component entry{c.attribute("os"), c.attribute("arch"), c.attribute("path")};
        const QString label = entry.os + '|' + entry.arch;
        if (labels.contains(label))
            faults << "two components for " + label;
        labels << label;
        if (c.attribute("type") != QLatin1String("native"))
            faults << label + ": type " + c.attribute("type");
        QFile file(unpacked + '/' + entry.path);
        if (entry.path.isEmpty() || entry.path.contains('/') || entry.path.contains('\\') || !file.open(QIODevice::ReadOnly)) {
            faults << label + ": no file " + entry.path;
            continue;
        }
        const Binary b = inspect(file.readAll());
        if (b.os != entry.os || b.arch != entry.arch)
            faults << label + ": " + entry.path + " is a " + (b.os.isEmpty() ? "non-library" : b.os + '|' + b.arch) + " file";
        if (!b.debugSections.isEmpty())
            faults << label + ": " + entry.path + " carries debug sections " + b.debugSections.join(' ');
        components->append({entry.os, entry.arch, entry.path, file.size()});
    }
    return faults;
}

// The first bytes of a PE image with one section: enough for the header checks, not for loading.
QByteArray peImage(quint16 machine, quint32 lfanew, const QByteArray &section = ".text")
{
    QByteArray d(0x40 + 4 + 20 + 40, '\0');
    const auto put = [&d](int at, auto value) {
        value = qToLittleEndian(value);
        d.replace(at, sizeof value, reinterpret_cast<const char *>(&value), sizeof value);
    };
    d.replace(0, 2, "MZ");
    put(0x3c, lfanew);
    d.replace(0x40, 4, QByteArray("PE\0\0", 4));
    put(0x44, machine);
    put(0x46, quint16(1));
    if (section.size() <= 8) {
        d.replace(0x58, section.size(), section);
        return d;
    }
    // A long name is "/offset" into the string table after the (here empty) symbol table.
    put(0x4c, quint32(d.size()));
    d.replace(0x58, 2, "/4");
    const QByteArray strings = section + '\0';
    put(d.size(), quint32(4 + strings.size()));
    return d + strings;
}

bool writeFile(const QString &path, const QByteArray &data)
{
    QFile file(path);
    return file.open(QIODevice::WriteOnly) && file.write(data) == data.size();
}

} // namespace

class TestPackage : public QObject
{
    Q_OBJECT

    QTemporaryDir samples;

    // Entries name the sample folder as {dir}.
    QStringList inSamples(QStringList entries) const
    {
        return entries.replaceInStrings(QStringLiteral("{dir}"), samples.path());
    }

    int pack(const QStringList &entries, const QTemporaryDir &dir, QString *log)
    {
        return cmake({"-DENTRIES=" + inSamples(entries).join(','), "-DOUT_DIR=" + dir.filePath("stage"),
                      "-DARCHIVE=" + dir.filePath("addin.zip"), "-P", script},
                     dir.path(), log);
    }

private slots:
    void initTestCase()
    {
        QVERIFY(samples.isValid());
        QVERIFY(writeFile(samples.filePath("i386.dll"), peImage(0x14c, 0x40)));
        QVERIFY(writeFile(samples.filePath("debug.dll"), peImage(0x14c, 0x40, ".debug_info")));
        QVERIFY(writeFile(samples.filePath("far.dll"), peImage(0x14c, 0x10000)));
        QVERIFY(writeFile(samples.filePath("short.dll"), "MZ"));
        if (cmake({QStringLiteral("--version")}, QDir::tempPath()) == -2)
            QSKIP("no cmake to run here: the package is made and checked on the build machine");
    }

    // The package made from the build trees, or any other one named by LUMARO_PACKAGE.
    void installablePackage()
    {
        const QString archive = qEnvironmentVariable("LUMARO_PACKAGE");
        if (archive.isEmpty())
            QSKIP("LUMARO_PACKAGE names no package: scripts/package.sh makes one and checks it here");
        QTemporaryDir dir;
        QVERIFY(dir.isValid());
        QList<Component> components;
        const QStringList faults = checkPackage(archive, dir.path(), &components);
        QVERIFY2(faults.isEmpty(), qPrintable(faults.join('\n')));
        QStringList labels;
        QStringList libraryFaults;
        for (const Component &c : components) {
            labels << c.os + '|' + c.arch;
            qInfo("component %s %s %s %lld", qPrintable(c.os), qPrintable(c.arch), qPrintable(c.path), c.size);
            if (c.os == QLatin1String("Linux")) {
                for (const QString &fault : linuxLibraryFaults(dir.filePath("unpacked/" + c.path)))
                    libraryFaults << c.path + ": " + fault;
            }
        }
        QVERIFY2(libraryFaults.isEmpty(), qPrintable(libraryFaults.join('\n')));
        const QStringList expected = qEnvironmentVariable("LUMARO_PACKAGE_EXPECT").split(',', Qt::SkipEmptyParts);
        for (const QString &label : expected)
            QVERIFY2(labels.contains(label), qPrintable("no component for " + label));
    }

    // The Linux libraries as shipped (LUMARO_SHIPPED_ADDIN, LUMARO_SHIPPED_ADDIN_I386),
    // and this build's, which links the system's Qt and C++ runtime and must be found out.
    void linuxLibraryFile_data()
    {
        QTest::addColumn<QString>("path");
        QTest::addColumn<QStringList>("faults");
        for (const char *variable : {"LUMARO_SHIPPED_ADDIN", "LUMARO_SHIPPED_ADDIN_I386"}) {
            const QString shipped = qEnvironmentVariable(variable);
            if (!shipped.isEmpty())
                QTest::newRow(variable) << shipped << QStringList();
        }
#ifndef Q_OS_WIN
        QTest::newRow("this build") << addin << QStringList{"needs libQt5Core.so.5", "symbol version GLIBCXX_", "symbol version GLIBC_2.3"};
#endif
    }

    void linuxLibraryFile()
    {
        QFETCH(QString, path);
        QFETCH(QStringList, faults);
        if (QByteArray(QTest::currentDataTag()) == "this build" && objdump(QStringLiteral("-p"), addin).isEmpty())
            QSKIP("no objdump here");
        const QStringList found = linuxLibraryFaults(path);
        if (faults.isEmpty())
            QVERIFY2(found.isEmpty(), qPrintable(found.join('\n')));
        for (const QString &fault : faults)
            QVERIFY2(found.join('\n').contains(fault), qPrintable(fault + " not among:\n" + found.join('\n')));
    }

    void packageHoldsThisBuildsLibrary()
    {
        QTemporaryDir dir;
        QVERIFY(dir.isValid());
        QString log;
        QVERIFY2(pack({hostLabel + '|' + addin}, dir, &log) == 0, qPrintable(log));
        QList<Component> components;
        const QStringList faults = checkPackage(dir.filePath("addin.zip"), dir.path(), &components);
        QVERIFY2(faults.isEmpty(), qPrintable(faults.join('\n')));
        QCOMPARE(components.size(), 1);
        QCOMPARE(components.at(0).os + '|' + components.at(0).arch, hostLabel);
    }

    void badEntryIsRefused_data()
    {
        QTest::addColumn<QStringList>("entries");
        QTest::addColumn<QString>("message");
        const QString host = hostLabel + '|' + addin;
        QTest::newRow("no file") << QStringList{hostLabel + "|{dir}/none.so"} << "No library at";
        QTest::newRow("second build mislabelled") << QStringList{host, hostOs + '|' + otherArch + '|' + addin}
                                                  << "is not a " + hostOs + ' ' + otherArch;
        QTest::newRow("library of the other system") << QStringList{otherOs + '|' + hostArch + '|' + addin}
                                                     << "is not a " + otherOs;
        QTest::newRow("pe of the other machine") << QStringList{"Windows|x86_64|{dir}/i386.dll"}
                                                 << "is not a Windows x86_64";
        QTest::newRow("pe as linux") << QStringList{"Linux|i386|{dir}/i386.dll"} << "is not a Linux i386";
        QTest::newRow("pe header past the end") << QStringList{"Windows|i386|{dir}/far.dll"} << "is not a Windows i386";
        QTest::newRow("truncated") << QStringList{"Windows|i386|{dir}/short.dll"} << "is not a Windows i386";
        QTest::newRow("one arch twice") << QStringList{host, host} << "Two libraries for";
        QTest::newRow("unknown os") << QStringList{"MacOS|x86_64|" + addin} << "Cannot check";
        QTest::newRow("unknown arch") << QStringList{hostOs + "|arm|" + addin} << "Unknown arch";
        QTest::newRow("no path") << QStringList{hostLabel} << "is not os|arch|path";
    }

    void badEntryIsRefused()
    {
        QFETCH(QStringList, entries);
        QFETCH(QString, message);
        QTemporaryDir dir;
        QVERIFY(dir.isValid());
        // An older package must not survive a failed run.
        QVERIFY(writeFile(dir.filePath("addin.zip"), "old"));
        QString log;
        QVERIFY(pack(entries, dir, &log) != 0);
        // CMake wraps long messages, so a long build path may split the text.
        QVERIFY2(log.simplified().contains(message), qPrintable(log));
        QVERIFY(!QFile::exists(dir.filePath("addin.zip")));
    }

    // Packages put together by hand: each fault the platform would meet is found.
    void checkFindsFaults_data()
    {
        QTest::addColumn<QStringList>("entries");
        QTest::addColumn<QString>("fault");
        QTest::newRow("pe labelled right") << QStringList{"Windows|i386|{dir}/i386.dll"} << QString();
        QTest::newRow("pe of the other machine") << QStringList{"Windows|x86_64|{dir}/i386.dll"}
                                                 << "is a Windows|i386 file";
        QTest::newRow("library of the other arch") << QStringList{hostOs + '|' + otherArch + '|' + addin}
                                                   << "is a " + hostLabel + " file";
        QTest::newRow("library of the other system") << QStringList{otherOs + '|' + hostArch + '|' + addin}
                                                     << "is a " + hostLabel + " file";
        QTest::newRow("not a library") << QStringList{"Windows|i386|{dir}/short.dll"} << "is a non-library file";
        QTest::newRow("missing file") << QStringList{hostLabel + "|{dir}/none.so"} << "no file";
        QTest::newRow("one arch twice") << QStringList{"Windows|i386|{dir}/i386.dll", "Windows|i386|{dir}/i386.dll"}
                                        << "two components for Windows|i386";
        QTest::newRow("pe debug section") << QStringList{"Windows|i386|{dir}/debug.dll"} << "debug sections .debug_info";
        QTest::newRow("unstripped library") << QStringList{hostLabel + '|' + addin} << "debug sections .debug";
    }

    void checkFindsFaults()
    {
        QFETCH(QStringList, entries);
        QFETCH(QString, fault);
        if (QByteArray(QTest::currentDataTag()) == "unstripped library") {
            QFile file(addin);
            QVERIFY(file.open(QIODevice::ReadOnly));
            if (inspect(file.readAll()).debugSections.isEmpty())
                QSKIP("this build's library carries no debug information");
        }
        QTemporaryDir dir;
        QVERIFY(dir.isValid());
        QVERIFY(QDir(dir.path()).mkdir("hand"));
        QString xml = "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<bundle xmlns=\"" + bundleNs + "\">\n";
        QStringList files{"MANIFEST.XML"};
        entries = inSamples(entries);
        for (int i = 0; i < entries.size(); ++i) {
            const QStringList e = entries.at(i).split('|');
            const QString name = QString::number(i) + '_' + QFileInfo(e.at(2)).fileName();
            if (QFile::copy(e.at(2), dir.filePath("hand/" + name)))
                files << name;
            xml += QString("  <component os=\"%1\" path=\"%2\" type=\"native\" arch=\"%3\"/>\n").arg(e.at(0), name, e.at(1));
        }
        QVERIFY(writeFile(dir.filePath("hand/MANIFEST.XML"), (xml + "</bundle>\n").toUtf8()));
        QCOMPARE(cmake(QStringList{"-E", "tar", "cf", dir.filePath("hand.zip"), "--format=zip"} + files, dir.filePath("hand")), 0);

        QList<Component> components;
        const QStringList faults = checkPackage(dir.filePath("hand.zip"), dir.path(), &components);
        if (fault.isEmpty())
            QVERIFY2(faults.isEmpty(), qPrintable(faults.join('\n')));
        else
            QVERIFY2(faults.join('\n').contains(fault), qPrintable(faults.join('\n')));
    }
};

QTEST_GUILESS_MAIN(TestPackage)
#include "tst_package.moc"
