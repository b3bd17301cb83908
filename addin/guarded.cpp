#include "addin/guarded.h"

#include "config/vxlog.h"

#include <QString>

#include <exception>
#include <new>

bool caughtOutOfMemory() noexcept
{
    try {
        throw;
    } catch (const std::bad_alloc &) {
        return true;
    } catch (...) {
        return false;
    }
}

void logCaughtException(const char *where) noexcept
{
    try {
        QString what;
        try {
            throw;
        } catch (const std::bad_alloc &) {
            what = QStringLiteral("not enough memory");
        } catch (const std::exception &exception) {
            what = QString::fromLocal8Bit(exception.what());
        } catch (...) {
            what = QStringLiteral("unknown exception");
        }
        writeLog(QStringLiteral("Error: exception in %1: %2.").arg(QLatin1String(where), what));
    } catch (...) {
        // Not even the line could be made: the failure itself is all the caller learns.
    }
}
