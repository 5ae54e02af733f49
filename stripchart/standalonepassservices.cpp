#include "stripchart/standalonepassservices.h"

#include "datasource/scanline.h"

StandalonePassServices::StandalonePassServices(CDataSource *source) : dataSource(source) {}

std::int32_t StandalonePassServices::StartPass(double easting, double northing, int zone, float heading,
                                               float halfSwath, const QDateTime &start)
{
    if (!dataSource)
        return -1;
    ++passNumber;
    records.StartPass(passNumber, easting, northing, zone, heading, halfSwath, start);
    return passNumber;
}

bool StandalonePassServices::ManipulateLogFile(int opCode, bool)
{
    if (opCode == 1)
        ++logOpenCalls;
    return opCode == 1 || opCode == 2;
}

void StandalonePassServices::WriteLogLine(const ScanLineRec &line)
{
    loggedLines.append(line.lineIndex);
}

void StandalonePassServices::SetRunHeading(float heading)
{
    runHeading = heading;
}

void StandalonePassServices::UpdatePass(double easting, double northing, int zone, float heading, float halfSwath)
{
    records.UpdatePass(easting, northing, zone, heading, halfSwath);
}

void StandalonePassServices::ReportSwathEdges(double x1, double y1, double x2, double y2, bool recorded)
{
    records.ReportSwathEdges(x1, y1, x2, y2, recorded);
}

void StandalonePassServices::EndPass(double easting, double northing, int zone, float heading, float halfSwath,
                                     bool)
{
    records.UpdatePass(easting, northing, zone, heading, halfSwath);
    ++endPassCalls;
}

std::int32_t StandalonePassServices::GetPassHeading(std::int32_t index)
{
    return records.GetPassHeading(index);
}
