#pragma once

#include <QString>

// The scale driver's last error code with its fixed English message.
class MScaleError
{
public:
    MScaleError() = default;
    MScaleError(int code) : m_code(code) {}

    MScaleError &setCode(int code)
    {
        m_code = code;
        return *this;
    }
    MScaleError &operator=(int code) { return setCode(code); }

    int code() const { return m_code; }

    // Translated in the "QObject" context; codes without a text of their
    // own give "Undefined Error".
    QString text() const;

    // The untranslated text of a code.
    static const char *sourceText(int code);

private:
    int m_code = 0;
};
