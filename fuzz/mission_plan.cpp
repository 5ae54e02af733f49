// Mission plan import: an XML plan of any content imported into the
// mission store. Input: the plan file's bytes.
#include "fuzz/fuzzsupport.h"
#include "mission/missionplanimport.h"

extern "C" int LLVMFuzzerInitialize(int *, char ***)
{
    fuzzsupport::init();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
    const QString path = fuzzsupport::workDir() + QStringLiteral("/flightdata.xml");
    if (!fuzzsupport::writeFile(path, data, size))
        return 0;
    MissionPlanImport::Summary summary;
    MissionPlanImport::ImportFile(path, &summary);
    fuzzsupport::forgetNotices();
    return 0;
}
