#pragma once

#include <QByteArray>
#include <QString>

#include <cstddef>
#include <cstdint>

// Things every fuzz target needs once per process: the Qt application object
// the library expects in its host, and a driver root folder of its own so
// that runs never write the user's log and settings.
void prepareFuzzProcess();

// The fuzz input as the bytes it is, zero bytes included.
QByteArray fuzzBytes(const uint8_t *data, size_t size);

// The bytes read as UTF-8 text, zero bytes included.
QString fuzzText(const QByteArray &bytes);

// A broken property is a finding: print what broke and stop the process so
// that the fuzzer keeps the input and the replay test fails.
[[noreturn]] void fuzzFailure(const char *what, const QString &detail = QString());

#define FUZZ_CHECK(condition, detail)                                                              \
    do {                                                                                           \
        if (!(condition))                                                                          \
            fuzzFailure(#condition, detail);                                                       \
    } while (false)
