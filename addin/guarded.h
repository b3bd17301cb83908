#pragma once

// No C++ exception may leave the library: the platform's frames come from
// another compiler, whose unwinder cannot cross ours, and the process would
// end at once. Every export, interface method and entry notification
// catches everything (a function-try-block around its body), logs it with
// these, and gives the answer it gives for a failure.

// In a catch block: logs the exception being handled, `where` naming the
// method. Throws nothing.
void logCaughtException(const char *where) noexcept;

// In a catch block: logs the exception and answers `failure`.
template<typename Result>
Result failedWith(const char *where, Result failure) noexcept
{
    logCaughtException(where);
    return failure;
}

// In a catch block: whether the exception being handled is a failed allocation.
bool caughtOutOfMemory() noexcept;
