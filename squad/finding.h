#pragma once

#include "squaddocument.h"

#include <QList>
#include <QString>

#include <algorithm>
#include <optional>

namespace squad {

// One thing a check found about a squad, in words a squad leader can act on.
struct Finding {
    enum class Kind {
        // The squad will not work in the game as meant.
        Problem,
        // Worth a look; the squad works.
        Hint,
    };
    Kind kind = Kind::Problem;
    // The member concerned, or -1 for the squad as a whole.
    int member = -1;
    // The one field concerned, if any: a squad property when `member` is -1, else a member field.
    std::optional<Property> property;
    std::optional<Field> field;
    QString message;
    // What the program itself can do about it, beyond going to the field concerned.
    enum class Remedy {
        None,
        // Write squad.dtd and squad.xsl beside the squad file.
        WriteCompanions,
    };
    Remedy remedy = Remedy::None;

    friend bool operator==(const Finding &, const Finding &) = default;
};

inline bool hasProblem(const QList<Finding> &findings) {
    return std::any_of(findings.begin(), findings.end(),
                       [](const Finding &f) { return f.kind == Finding::Kind::Problem; });
}

} // namespace squad
