#include "displayplacement.h"

#include <QtCore/QEvent>
#include <QtGui/QResizeEvent>
#include <QtWidgets/QMdiArea>
#include <QtWidgets/QMdiSubWindow>

#include <limits>

namespace DisplayPlacement {

namespace {

const int kStep = 16; // candidate positions, px apart

qint64 Overlap(const QRect &a, const QRect &b)
{
    const QRect both = a.intersected(b);
    return both.isEmpty() ? 0 : qint64(both.width()) * both.height();
}

} // namespace

namespace {

// The least-overlapping spot for a window of exactly `size`.
QRect LeastOverlap(QSize size, const QVector<QRect> &others, QSize area, qint64 *overlapOut)
{
    QRect best(QPoint(0, 0), size);
    qint64 bestOverlap = std::numeric_limits<qint64>::max();
    const int lastX = qMax(0, area.width() - size.width());
    const int lastY = qMax(0, area.height() - size.height());
    for (int y = 0;; y = qMin(y + kStep, lastY)) {
        for (int x = 0;; x = qMin(x + kStep, lastX)) {
            const QRect candidate(QPoint(x, y), size);
            qint64 overlap = 0;
            for (const QRect &other : others)
                overlap += Overlap(candidate, other);
            if (overlap < bestOverlap) {
                bestOverlap = overlap;
                best = candidate;
                if (overlap == 0) {
                    *overlapOut = 0;
                    return best;
                }
            }
            if (x == lastX)
                break;
        }
        if (y == lastY)
            break;
    }
    *overlapOut = bestOverlap;
    return best;
}

} // namespace

QRect Place(QSize preferred, const QVector<QRect> &others, QSize area, QSize minimum)
{
    const QSize size = preferred.boundedTo(area).expandedTo(QSize(1, 1));
    qint64 overlap = 0;
    const QRect whole = LeastOverlap(size, others, area, &overlap);
    if (overlap == 0)
        return whole;
    // Smaller, in steps, while it stays usable: free room beats covering what the user arranged.
    for (double scale = 0.85; scale > 0.2; scale -= 0.15) {
        const QSize smaller = QSize(int(size.width() * scale), int(size.height() * scale)).expandedTo(minimum);
        for (const QSize &tried : {smaller, QSize(size.width(), smaller.height()), QSize(smaller.width(), size.height())}) {
            const QRect spot = LeastOverlap(tried.boundedTo(area), others, area, &overlap);
            if (overlap == 0)
                return spot;
        }
        if (smaller == minimum)
            break;
    }
    return whole;
}

QVector<QRect> Share(const QVector<QSize> &preferred, QSize area, const QVector<QSize> &minimums)
{
    const bool tall = area.height() >= area.width();
    const int length = tall ? area.height() : area.width();
    auto along = [tall](const QSize &size) { return qMax(1, tall ? size.height() : size.width()); };
    qint64 wanted = 0, least = 0;
    for (int i = 0; i < preferred.size(); ++i) {
        wanted += along(preferred[i]);
        least += i < minimums.size() ? along(minimums[i]) : 0;
    }
    const bool minimumsFit = least <= length;
    const qint64 spare = minimumsFit ? length - least : length;
    QVector<QRect> spots;
    int at = 0;
    for (int i = 0; i < preferred.size(); ++i) {
        const qint64 base = minimumsFit && i < minimums.size() ? along(minimums[i]) : 0;
        // The last one takes what rounding left, so that the windows fill the area exactly.
        const int share = i + 1 == preferred.size()
                              ? length - at
                              : int(base + spare * along(preferred[i]) / qMax<qint64>(1, wanted));
        spots << (tall ? QRect(0, at, area.width(), share) : QRect(at, 0, share, area.height()));
        at += share;
    }
    return spots;
}

QRect Scaled(const QRect &window, QSize from, QSize to, QSize minimum)
{
    if (from.isEmpty() || to.isEmpty())
        return window;
    const double sx = double(to.width()) / from.width();
    const double sy = double(to.height()) / from.height();
    QSize size(qRound(window.width() * sx), qRound(window.height() * sy));
    size = size.expandedTo(minimum).boundedTo(to.expandedTo(minimum));
    QPoint topLeft(qRound(window.x() * sx), qRound(window.y() * sy));
    topLeft.setX(qBound(0, topLeft.x(), qMax(0, to.width() - size.width())));
    topLeft.setY(qBound(0, topLeft.y(), qMax(0, to.height() - size.height())));
    return QRect(topLeft, size);
}

AreaFitter::AreaFitter(QMdiArea *area_i)
    : QObject(area_i)
    , area(area_i)
{
    area->viewport()->installEventFilter(this);
}

void FitAll(QMdiArea *area)
{
    const QSize to = area->viewport()->size();
    QRect all;
    QList<QMdiSubWindow *> subs;
    for (QMdiSubWindow *sub : area->subWindowList()) {
        if (sub->isMaximized() || sub->isMinimized() || !sub->isVisible())
            continue;
        subs << sub;
        all |= sub->geometry();
    }
    if (subs.isEmpty() || to.isEmpty() || (all.right() < to.width() && all.bottom() < to.height()))
        return;
    // The arrangement as a whole, from the area's corner: it keeps its proportions and gaps.
    const QSize from(qMax(all.right() + 1, to.width()), qMax(all.bottom() + 1, to.height()));
    for (QMdiSubWindow *sub : subs)
        sub->setGeometry(Scaled(sub->geometry(), from, to, sub->minimumSizeHint()));
}

namespace {

int Overlaps(const QList<QMdiSubWindow *> &subs)
{
    int pairs = 0;
    for (int i = 0; i < subs.size(); ++i)
        for (int j = i + 1; j < subs.size(); ++j)
            pairs += subs[i]->geometry().intersects(subs[j]->geometry()) ? 1 : 0;
    return pairs;
}

} // namespace

bool AreaFitter::eventFilter(QObject *watched, QEvent *event)
{
    if (watched == area->viewport() && event->type() == QEvent::Resize &&
        area->viewMode() == QMdiArea::SubWindowView) {
        const auto *resize = static_cast<QResizeEvent *>(event);
        const QSize from = resize->oldSize();
        QList<QMdiSubWindow *> subs;
        QVector<QSize> before, minimums;
        for (QMdiSubWindow *sub : area->subWindowList()) {
            if (sub->isMaximized() || sub->isMinimized() || !sub->isVisible())
                continue;
            subs << sub;
            before << sub->size();
            minimums << sub->minimumSizeHint();
        }
        const int overlapsBefore = Overlaps(subs);
        // Grown or shrunk from a real size: the windows go with it. A first layout (from a placeholder
        // size) says nothing about where the user put them.
        if (from.width() > 100 && from.height() > 100)
            for (QMdiSubWindow *sub : subs)
                sub->setGeometry(Scaled(sub->geometry(), from, resize->size(), sub->minimumSizeHint()));
        FitAll(area);
        // Windows that could not shrink as far as the rest now cover each other: share the area anew.
        if (Overlaps(subs) > overlapsBefore) {
            const QVector<QRect> spots = Share(before, resize->size(), minimums);
            for (int i = 0; i < subs.size(); ++i)
                subs[i]->setGeometry(spots[i]);
        }
    }
    return QObject::eventFilter(watched, event);
}

} // namespace DisplayPlacement
