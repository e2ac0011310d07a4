// A squad of made-up members of realistic length, shared by the benchmarks.
#pragma once

#include "squad/squaddocument.h"

inline squad::SquadData makeSquad(int members) {
    squad::SquadData d;
    d.properties = {
        "=TB=", "Troopbook Test Brigade", "leader@example.org", "www.example.org", "logo.paa",
        "TB"};
    d.mmbdata.reserve(members);
    for (int i = 0; i < members; ++i) {
        const QString n = QString::number(i);
        d.mmbdata.append(squad::Member{QString::number(10000000 + i), "Nick" + n, "Full Name " + n,
                                       "member" + n + "@example.org",
                                       QString::number(100000000 + i), "Remark for member " + n});
    }
    return d;
}
