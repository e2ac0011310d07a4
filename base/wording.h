#pragma once

#include <QString>

#include <chrono>

namespace base {

// "1 member", "2 members": the count and the word that goes with it.
QString countOf(qint64 n, const char *one, const char *many);

// How long a time-out lasts, as a message says it: "1 second", "20 seconds", "1.5 seconds".
QString durationText(std::chrono::milliseconds duration);

} // namespace base
