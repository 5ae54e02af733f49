#pragma once
// One pass (run) of the aircraft over the target: its start and end points,
// heading, half swath width and the four footprint corners the map draws.
// Also the two swath extents boxes and a small record keeper that the main
// window (and any other PassServices implementation) can delegate to.
#include <QDateTime>

#include <array>
#include <cstdint>
#include <vector>

struct PassPoint {
    double x = 0.0;
    double y = 0.0;
};

class CPass {
public:
    // Stores the start and the two start corners: left is w to the left of
    // the heading, right w to the right.
    void SetPassStart(double x, double y, std::int32_t line, float heading, float halfWidth);
    // Stores the end point and line; the end corners follow from the given
    // heading and half width. The start's heading and width stay.
    void SetPassEnd(double x, double y, std::int32_t line, float heading, float halfWidth);
    // start-left, end-left, end-right, start-right: the ring the map draws.
    std::array<PassPoint, 4> GetPassCorners() const;
    // trunc(heading + 0.5), whole degrees.
    std::int32_t GetPassHeading() const;

    double startX = 0.0, startY = 0.0;
    std::int32_t startLine = 0;
    float heading = 0.0f;
    float halfWidth = 0.0f;
    double endX = 0.0, endY = 0.0;
    std::int32_t endLine = 0;
    double leftOffX = 0.0, leftOffY = 0.0;
    double rightOffX = 0.0, rightOffY = 0.0;
    PassPoint startLeft, startRight, endLeft, endRight;
};

// Axis-aligned box in projected metres grown point by point.
class CExtentsBox {
public:
    static constexpr double kEmptyMin = 9.99e99;
    static constexpr double kEmptyMax = -9.99e99;

    // Back to empty. The "ever grown" mark survives.
    void Empty();
    void Grow(double x, double y);
    bool IsEmpty() const { return minX > maxX || minY > maxY; }
    // Grown since the last Empty().
    bool HasGrown() const { return grown; }
    // Grown at least once since construction.
    bool EverGrown() const { return everGrown; }

    double minX = kEmptyMin, maxX = kEmptyMax;
    double minY = kEmptyMin, maxY = kEmptyMax;

private:
    bool grown = false;
    bool everGrown = false;
};

// The pass list and the extents of the swath: box A takes every line's
// swath, box B only the recorded lines' (what a closed log is rectified
// over).
class CPassRecords {
public:
    CPassRecords();

    // Makes entry passNumber a pass started at the given point (entry 0 is
    // never filled) and remembers the start time.
    void StartPass(std::int32_t passNumber, double x, double y, int zone, float heading, float halfWidth,
                   const QDateTime &start);
    void UpdatePass(double x, double y, int zone, float heading, float halfWidth);
    void ReportSwathEdges(double x1, double y1, double x2, double y2, bool recorded);
    // Heading of pass index (0 = current), or 0 when there is no such pass.
    std::int32_t GetPassHeading(std::int32_t index) const;
    // Empties both boxes (a new mission).
    void EmptyExtents();

    const CPass *CurrentPass() const;
    std::int32_t CurrentIndex() const { return current; }
    const std::vector<CPass> &Passes() const { return passes; }
    int Zone() const { return zone; }
    QDateTime StartTime() const { return startTime; }

    CExtentsBox boxA;
    CExtentsBox boxB;

private:
    std::vector<CPass> passes;
    std::int32_t current = 0;
    int zone = 0;
    QDateTime startTime;
};
