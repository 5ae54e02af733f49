#include "stripchart/cpass.h"

#include <cmath>

namespace {
constexpr double kDegToRad = 0.017453292519943295;
}

void CPass::SetPassStart(double x, double y, std::int32_t line, float h, float w)
{
    startX = x;
    startY = y;
    startLine = line;
    heading = h;
    halfWidth = w;
    leftOffX = std::sin((h + 270.0) * kDegToRad) * w;
    leftOffY = std::cos((h + 270.0) * kDegToRad) * w;
    rightOffX = std::sin((h + 90.0) * kDegToRad) * w;
    rightOffY = std::cos((h + 90.0) * kDegToRad) * w;
    startLeft = {x + leftOffX, y + leftOffY};
    startRight = {x + rightOffX, y + rightOffY};
    // Until the pass moves, its end is its start.
    endX = x;
    endY = y;
    endLine = line;
    endLeft = startLeft;
    endRight = startRight;
}

void CPass::SetPassEnd(double x, double y, std::int32_t line, float h, float w)
{
    endX = x;
    endY = y;
    endLine = line;
    const double dx = std::sin((h + 270.0) * kDegToRad) * w;
    const double dy = std::cos((h + 270.0) * kDegToRad) * w;
    endLeft = {x + dx, y + dy};
    endRight = {x - dx, y - dy};
}

std::array<PassPoint, 4> CPass::GetPassCorners() const
{
    return {startLeft, endLeft, endRight, startRight};
}

std::int32_t CPass::GetPassHeading() const
{
    return static_cast<std::int32_t>(heading + 0.5f);
}

void CExtentsBox::Empty()
{
    minX = minY = kEmptyMin;
    maxX = maxY = kEmptyMax;
    grown = false;
}

void CExtentsBox::Grow(double x, double y)
{
    if (x < minX)
        minX = x;
    if (x > maxX)
        maxX = x;
    if (y < minY)
        minY = y;
    if (y > maxY)
        maxY = y;
    grown = true;
    everGrown = true;
}

CPassRecords::CPassRecords()
{
    passes.reserve(12);
}

void CPassRecords::StartPass(std::int32_t passNumber, double x, double y, int z, float heading, float halfWidth,
                             const QDateTime &start)
{
    if (passNumber < 1)
        return;
    if (passes.size() < static_cast<std::size_t>(passNumber) + 1)
        passes.resize(static_cast<std::size_t>(passNumber) + 1);
    passes[static_cast<std::size_t>(passNumber)].SetPassStart(x, y, 0, heading, halfWidth);
    current = passNumber;
    zone = z;
    startTime = start;
}

void CPassRecords::UpdatePass(double x, double y, int z, float heading, float halfWidth)
{
    if (current < 1 || static_cast<std::size_t>(current) >= passes.size())
        return;
    zone = z;
    passes[static_cast<std::size_t>(current)].SetPassEnd(x, y, 0, heading, halfWidth);
}

void CPassRecords::ReportSwathEdges(double x1, double y1, double x2, double y2, bool recorded)
{
    boxA.Grow(x1, y1);
    boxA.Grow(x2, y2);
    if (recorded) {
        boxB.Grow(x1, y1);
        boxB.Grow(x2, y2);
    }
}

std::int32_t CPassRecords::GetPassHeading(std::int32_t index) const
{
    const std::int32_t i = index == 0 ? current : index;
    if (i < 1 || static_cast<std::size_t>(i) >= passes.size())
        return 0;
    return passes[static_cast<std::size_t>(i)].GetPassHeading();
}

void CPassRecords::EmptyExtents()
{
    boxA.Empty();
    boxB.Empty();
}

const CPass *CPassRecords::CurrentPass() const
{
    if (current < 1 || static_cast<std::size_t>(current) >= passes.size())
        return nullptr;
    return &passes[static_cast<std::size_t>(current)];
}
