#include "wording.h"

namespace base {

QString countOf(qint64 n, const char *one, const char *many) {
    return QString::number(n) + u' ' + QString::fromLatin1(n == 1 ? one : many);
}

QString durationText(std::chrono::milliseconds duration) {
    const qint64 ms = duration.count();
    if (ms % 1000 == 0)
        return countOf(ms / 1000, "second", "seconds");
    return QString::number(double(ms) / 1000.0) + QStringLiteral(" seconds");
}

} // namespace base
