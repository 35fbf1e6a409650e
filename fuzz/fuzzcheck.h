#ifndef FUZZCHECK_H
#define FUZZCHECK_H

#include <QString>

#include <cstdio>
#include <cstdlib>

// A broken property is a finding like a crash: abort, so that libFuzzer keeps the input.
#define FUZZ_CHECK(condition, what) \
    do { \
        if (!(condition)) { \
            std::fprintf(stderr, "property broken at %s:%d: %s\n  %s\n", __FILE__, __LINE__, \
                         #condition, qPrintable(QString(what))); \
            std::abort(); \
        } \
    } while (false)

#endif // FUZZCHECK_H
