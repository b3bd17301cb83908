#include "fakeplatform/fakeconnection.h"

#include "fakeplatform/variantarray.h"

bool FakeConnection::AddError(unsigned short code, const WCHAR_T *source, const WCHAR_T *description, long errorNumber)
{
    m_errors.append(ErrorReport{code, platformText(source), platformText(description), errorNumber});
    return true;
}

bool FakeConnection::SetStatusLine(WCHAR_T *statusLine)
{
    m_statusLines.append(platformText(statusLine));
    if (m_statusWatcher)
        m_statusWatcher(m_statusLines.last());
    return true;
}

void FakeConnection::clear()
{
    m_errors.clear();
    m_statusLines.clear();
    m_resets = 0;
}
