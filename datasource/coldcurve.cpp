#include "datasource/coldcurve.h"

ColdCurve::ColdCurve()
{
    for (auto &e : e_)
        e.store(0, std::memory_order_relaxed);
}

void ColdCurve::resetStartValues()
{
    set(0, 0);
    for (int i = 1; i <= 32768; ++i)
        set(i, kNegativeStart);
    for (int i = 32769; i < kEntries; ++i)
        set(i, kPositiveStart);
}
