#include "dsp/simlinesource.h"

std::unique_ptr<SimLineSource> makeDefaultSimLineSource()
{
    return std::make_unique<PatternLineSource>(20.0);
}
