#pragma once

#include "iaudiofile2.h"

#include <exception>
#include <new>

// Runs one step of a worker thread, where an exception would end the
// program: whatever the step throws comes back as its failure, to be
// returned on the caller's thread as the component's own failures are.
// `doing` completes "while …" ("decoding", "encoding").
template <typename Step> AudioStatus failureOnWorker(Step &&step, const char *doing)
{
    try {
        return step();
    } catch (const std::bad_alloc &) {
        return AudioStatus::failure(QStringLiteral("Out of memory while %1.").arg(QLatin1String(doing)));
    } catch (const std::exception &error) {
        return AudioStatus::failure(QString::fromUtf8(error.what()));
    } catch (...) {
        return AudioStatus::failure(QStringLiteral("An unknown error while %1.").arg(QLatin1String(doing)));
    }
}
