#pragma once

#include <QDir>
#include <QTest>

// The real-world samples live beside the project, not in it. A developer
// without them may skip; a CI run must not pass green without them.
#define SONBREL_REQUIRE_REALWORLD()                                                                          \
    do {                                                                                                     \
        if (!QDir(QStringLiteral(SONBREL_REALWORLD_DIR)).exists()) {                                         \
            if (qEnvironmentVariable("CI") == QLatin1String("true"))                                         \
                QFAIL("real-world samples missing: " SONBREL_REALWORLD_DIR);                                 \
            QSKIP("real-world samples missing");                                                             \
        }                                                                                                    \
    } while (false)
