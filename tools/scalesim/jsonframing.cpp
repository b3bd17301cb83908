#include "jsonframing.h"

namespace {

bool isJsonSpace(char c)
{
    return c == ' ' || c == '\t' || c == '\n' || c == '\r';
}

bool opensDocument(char c)
{
    return c == '{' || c == '[';
}

} // namespace

JsonFrame findJsonDocument(const QByteArray &buffer)
{
    JsonFrame frame;
    const int size = buffer.size();
    const char *data = buffer.constData();

    int start = 0;
    while (start < size && isJsonSpace(data[start]))
        ++start;
    frame.start = start;
    if (start == size)
        return frame;

    if (!opensDocument(data[start])) {
        // Up to the next possible document, so that one stray byte does not
        // swallow the request that follows it.
        int end = start + 1;
        while (end < size && !opensDocument(data[end]))
            ++end;
        frame.status = JsonFrame::Junk;
        frame.length = end - start;
        return frame;
    }

    int depth = 0;
    bool inString = false;
    bool escaped = false;
    for (int i = start; i < size; ++i) {
        const char c = data[i];
        if (inString) {
            if (escaped)
                escaped = false;
            else if (c == '\\')
                escaped = true;
            else if (c == '"')
                inString = false;
            continue;
        }
        if (c == '"') {
            inString = true;
        } else if (c == '{' || c == '[') {
            ++depth;
        } else if (c == '}' || c == ']') {
            if (--depth == 0) {
                frame.status = JsonFrame::Complete;
                frame.length = i + 1 - start;
                return frame;
            }
        }
    }
    frame.status = JsonFrame::Incomplete;
    return frame;
}
