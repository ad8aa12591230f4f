#include "ui/plot/WaveRanges.h"

#include <QWheelEvent>

#include <algorithm>
#include <cfloat>
#include <cmath>
#include <limits>

namespace vn {

namespace {

using Wide = long double;

// The limits shared by zoom and pan: ends are clamped to ±DBL_MAX, but a
// result that left the doubles on one side, or is not increasing, keeps the
// old range.
WaveRange limitedRange(const WaveRange& old, Wide lo, Wide hi)
{
    const Wide max = DBL_MAX;
    if ((lo > max && hi > max) || (lo < -max && hi < -max) || lo > max)
        return old;
    if (lo < -max && hi > max)
        return {-DBL_MAX, DBL_MAX};
    lo = std::clamp(lo, -max, max);
    hi = std::clamp(hi, -max, max);
    if (!(hi > lo))
        return old;
    const double a = double(lo);
    const double b = double(hi);
    if (!(b > a))
        return old;
    return {a, b};
}

} // namespace

WaveRange sampleBounds(const QMap<QString, WavePoints>& curves)
{
    bool any = false;
    double lo = 0;
    double hi = 0;
    for (const WavePoints& points : curves) {
        if (points.isEmpty())
            continue;
        const double first = points.constFirst().x();
        const double last = points.constLast().x();
        lo = any ? std::min(lo, first) : first;
        hi = any ? std::max(hi, last) : last;
        any = true;
    }
    if (!any)
        return {0.0, 1.0};
    return {lo, std::max(hi, lo + 1.0)};
}

WaveRange valueRange(const QMap<QString, WavePoints>& curves, const QSet<QString>& hidden)
{
    double min = std::numeric_limits<double>::infinity();
    double max = -std::numeric_limits<double>::infinity();
    for (auto it = curves.cbegin(); it != curves.cend(); ++it) {
        if (hidden.contains(it.key()))
            continue;
        for (const QPointF& p : it.value()) {
            const double y = p.y();
            if (y < min)
                min = y;
            if (y > max)
                max = y;
        }
    }
    if (!(min <= max))
        return {-0.1, 1.1};
    // In long double, so samples of -1e308 and 1e308 keep a finite span and
    // their margin; the ends are then held to the doubles.
    const Wide span = max > min ? Wide(max) - min : std::abs(Wide(min));
    const Wide margin = span > 0.01L ? span * 0.1L : 0.001L;
    const Wide limit = DBL_MAX;
    return {double(std::max(min - margin, -limit)), double(std::min(max + margin, limit))};
}

WaveRange scaledRange(const WaveRange& range, double a, double factor, bool isX)
{
    const Wide lo = range.first;
    const Wide hi = range.second;
    const Wide span = hi - lo;
    const Wide anchor = lo + span * a;
    Wide newSpan = span / factor;
    if (isX) {
        newSpan = std::clamp<Wide>(newSpan, 1, 50000);
    } else {
        const Wide floor = 16 * Wide(DBL_EPSILON) * std::abs(anchor);
        newSpan = std::max(newSpan, floor > 1e-300L ? floor : Wide(1e-300L));
        newSpan = std::min<Wide>(newSpan, DBL_MAX);
    }
    return limitedRange(range, anchor - newSpan * a, anchor + newSpan * (1 - a));
}

WaveRange translatedRange(const WaveRange& range, double fraction)
{
    const Wide shift = (Wide(range.second) - range.first) * fraction;
    return limitedRange(range, range.first + shift, range.second + shift);
}

double wheelSteps(const QWheelEvent& event)
{
    const QPoint angle = event.angleDelta();
    const double steps = angle.y() != 0 ? angle.y() / 120.0 : event.pixelDelta().y() / 80.0;
    return std::clamp(steps, -6.0, 6.0);
}

} // namespace vn
