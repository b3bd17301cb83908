#pragma once

#include <QString>
#include <QVector>

// What the pre-check refused, placed like a reader error.
struct XmlPrecheckIssue
{
    QString message;
    int line = 0;
    int column = 0;
};

// Qt's DOM reader descends recursively, one stack frame chain per element
// level, and expands entities whose text may itself hold elements: a deeply
// nested table crashes the host process. This lexical pass runs first and
// refuses any document type declaration and any element nesting deeper than
// maxDepth. It never counts fewer levels than the reader would build, and it
// leaves every other fault to the reader so that its messages stay intact.
// Both readers check attribute names for duplicates in quadratic time, so an
// element with more than maxAttributes attributes is refused too. So is a
// value the caller reads that the DOM reader would hand on damaged: one
// holding an unpaired surrogate, or a character reference to U+0000, to a
// surrogate or beyond U+FFFF (of which the reader keeps the low 16 bits).
// Values nobody reads stay as the reader gives them.
// Reads the character reference whose digits start at `from` (just past
// "&#"): false when it is not written strictly as digits and ";" or "x", hex
// digits and ";" (Qt's stream reader reads others leniently, its DOM reader
// refuses them). Values above 0xFFFFFF read as 0x1000000.
bool readCharacterReference(const QChar *chars, int from, int size, quint32 &value);

// The values the caller reads: the attributes named here of the elements
// named `row` directly below a root element named `root`.
struct XmlReadValues
{
    QLatin1String root;
    QLatin1String row;
    QVector<QLatin1String> attributes;
};

bool precheckXml(const QString &xml, int maxDepth, int maxAttributes, const XmlReadValues &read,
                 XmlPrecheckIssue &issue);
