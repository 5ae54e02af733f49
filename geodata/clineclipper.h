#pragma once
// Clips a straight segment against an axis-aligned rectangle (x grows to the
// right, y grows upward, so top >= bottom). Points on an edge are inside.
//
// Two independent windows are kept, one in single and one in double
// precision; each ClipSegment overload uses the window of its own precision
// and computes in that precision. ClipSegment returns true when some part of
// the segment lies in the window and then leaves the visible part's ends in
// the four arguments. On false the arguments may have changed and mean
// nothing.
//
// The clip moves the first point onto the window, then the second; the
// second point's outside code is taken once, before the first point moves,
// and its final position is not compared with the window again.
class CLineClipper {
public:
    CLineClipper() = default;

    void SetClipWindow(float left, float top, float right, float bottom);
    void SetClipWindow(double left, double top, double right, double bottom);

    bool ClipSegment(float &x1, float &y1, float &x2, float &y2) const;
    bool ClipSegment(double &x1, double &y1, double &x2, double &y2) const;

    // The stored windows (left, top, right, bottom).
    void GetClipWindow(float *left, float *top, float *right, float *bottom) const;
    void GetClipWindow(double *left, double *top, double *right, double *bottom) const;

private:
    float fLeft_ = 0.0f, fTop_ = 0.0f, fRight_ = 0.0f, fBottom_ = 0.0f;
    double dLeft_ = 0.0, dTop_ = 0.0, dRight_ = 0.0, dBottom_ = 0.0;
};
