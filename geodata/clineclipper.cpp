#include "geodata/clineclipper.h"

namespace {

// Outside codes.
constexpr int kLeft = 1;
constexpr int kRight = 2;
constexpr int kBelow = 4;
constexpr int kAbove = 8;

template <typename T>
bool clip(T L, T Tp, T R, T B, T &x1, T &y1, T &x2, T &y2)
{
    int c1 = 0;
    int c2 = 0;

    // Outside codes with early rejection of segments wholly beyond one edge.
    if (x1 < L) {
        if (x2 < L)
            return false;
        c1 = kLeft;
    } else {
        if (x1 > R && x2 > R)
            return false;
        c1 = x1 > R ? kRight : 0;
    }
    if (y1 < B) {
        if (y2 < B)
            return false;
        c2 = y2 > Tp ? kAbove : 0;
        c1 += kBelow;
    } else if (y1 > Tp) {
        if (y2 > Tp)
            return false;
        c2 = y2 < B ? kBelow : 0;
        c1 += kAbove;
    } else {
        c2 = y2 < B ? kBelow : (y2 > Tp ? kAbove : 0);
    }
    if (x2 < L)
        c2 += kLeft;
    else if (x2 > R)
        c2 += kRight;

    if (c1 == 0 && c2 == 0)
        return true;

    const T dx = x2 - x1;
    const T dy = y2 - y1;

    // First point.
    if (c1 != 0) {
        T hEdge;
        if (c1 & (kLeft | kRight)) {
            const T vEdge = (c1 & kLeft) ? L : R;
            y1 += (vEdge - x1) * dy / dx;
            x1 = vEdge;
            if (y1 >= B && y1 <= Tp) {
                if (c2 == 0)
                    return true;
                goto second;
            }
            if (y1 > Tp) {
                if (c2 >= kAbove)
                    return false;
                hEdge = Tp;
            } else {
                if (c2 & kBelow)
                    return false;
                hEdge = B;
            }
        } else {
            hEdge = (c1 & kBelow) ? B : Tp;
        }
        x1 += (hEdge - y1) * dx / dy;
        y1 = hEdge;
        if (x1 < L || x1 > R)
            return false;
        if (c2 == 0)
            return true;
    }

second:
    {
        T hEdge;
        if (c2 & (kLeft | kRight)) {
            const T vEdge = (c2 & kLeft) ? L : R;
            y2 += (vEdge - x2) * dy / dx;
            x2 = vEdge;
            if (y2 >= B && y2 <= Tp)
                return true;
            hEdge = y2 < B ? B : Tp;
        } else {
            hEdge = (c2 & kBelow) ? B : Tp;
        }
        x2 += (hEdge - y2) * dx / dy;
        y2 = hEdge;
    }
    return true;
}

} // namespace

void CLineClipper::SetClipWindow(float left, float top, float right, float bottom)
{
    fLeft_ = left;
    fTop_ = top;
    fRight_ = right;
    fBottom_ = bottom;
}

void CLineClipper::SetClipWindow(double left, double top, double right, double bottom)
{
    dLeft_ = left;
    dTop_ = top;
    dRight_ = right;
    dBottom_ = bottom;
}

bool CLineClipper::ClipSegment(float &x1, float &y1, float &x2, float &y2) const
{
    return clip<float>(fLeft_, fTop_, fRight_, fBottom_, x1, y1, x2, y2);
}

bool CLineClipper::ClipSegment(double &x1, double &y1, double &x2, double &y2) const
{
    return clip<double>(dLeft_, dTop_, dRight_, dBottom_, x1, y1, x2, y2);
}

void CLineClipper::GetClipWindow(float *left, float *top, float *right, float *bottom) const
{
    if (left) *left = fLeft_;
    if (top) *top = fTop_;
    if (right) *right = fRight_;
    if (bottom) *bottom = fBottom_;
}

void CLineClipper::GetClipWindow(double *left, double *top, double *right, double *bottom) const
{
    if (left) *left = dLeft_;
    if (top) *top = dTop_;
    if (right) *right = dRight_;
    if (bottom) *bottom = dBottom_;
}
