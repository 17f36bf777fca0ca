#include "displayplacement.h"

#include <QtCore/QEvent>
#include <QtGui/QResizeEvent>
#include <QtWidgets/QMdiArea>
#include <QtWidgets/QMdiSubWindow>

#include <algorithm>
#include <limits>
#include <numeric>

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

namespace {

// Lengths along one direction: each at least its minimum where the minimums fit, the rest shared by
// the preferred lengths; the last takes what rounding left.
QVector<int> Lengths(const QVector<int> &preferred, const QVector<int> &minimums, int length)
{
    qint64 wanted = 0, least = 0;
    for (int i = 0; i < preferred.size(); ++i) {
        wanted += qMax(1, preferred[i]);
        least += minimums[i];
    }
    const bool minimumsFit = least <= length;
    const qint64 spare = minimumsFit ? length - least : length;
    QVector<int> lengths;
    int at = 0;
    for (int i = 0; i < preferred.size(); ++i) {
        const int share = i + 1 == preferred.size()
                              ? length - at
                              : int((minimumsFit ? minimums[i] : 0) + spare * qMax(1, preferred[i]) / qMax<qint64>(1, wanted));
        lengths << share;
        at += share;
    }
    return lengths;
}

} // namespace

QVector<QRect> Share(const QVector<QSize> &preferred, QSize area, const QVector<QSize> &minimums)
{
    const int n = preferred.size();
    auto minimum = [&](int i) { return i < minimums.size() ? minimums[i] : QSize(0, 0); };
    const bool tall = area.height() >= area.width();
    // A tall area: rows from the top. One window per row while their minimum heights fit; else the
    // windows go side by side where their minimum widths allow (the tallest first, each on the first
    // row with room), so that each keeps what it needs to be read.
    QVector<QVector<int>> rows;
    int minimumHeights = 0;
    for (int i = 0; i < n; ++i)
        minimumHeights += minimum(i).height();
    QVector<int> order(n);
    std::iota(order.begin(), order.end(), 0);
    if (tall && minimumHeights > area.height()) {
        std::stable_sort(order.begin(), order.end(),
                         [&](int a, int b) { return preferred[a].height() > preferred[b].height(); });
        for (int i : order) {
            bool placed = false;
            // The tallest (the plots) keeps a row to itself: side by side it would be too narrow to read.
            for (int r = 1; r < rows.size(); ++r) {
                QVector<int> &row = rows[r];
                int width = minimum(i).width();
                for (int j : row)
                    width += minimum(j).width();
                if (width <= area.width()) {
                    row << i;
                    placed = true;
                    break;
                }
            }
            if (!placed)
                rows.append(QVector<int>{i});
        }
    } else {
        for (int i = 0; i < n; ++i)
            rows.append(QVector<int>{i});
    }
    QVector<QRect> spots(n);
    if (!tall) {
        // A wide area: side by side, each as high as the area.
        QVector<int> wanted, least;
        for (int i = 0; i < n; ++i) {
            wanted << preferred[i].width();
            least << minimum(i).width();
        }
        const QVector<int> widths = Lengths(wanted, least, area.width());
        int x = 0;
        for (int i = 0; i < n; ++i) {
            spots[i] = QRect(x, 0, widths[i], area.height());
            x += widths[i];
        }
        return spots;
    }
    QVector<int> rowWanted, rowLeast;
    for (const QVector<int> &row : rows) {
        int wanted = 0, least = 0;
        for (int i : row) {
            wanted = qMax(wanted, preferred[i].height());
            least = qMax(least, minimum(i).height());
        }
        rowWanted << wanted;
        rowLeast << least;
    }
    const QVector<int> heights = Lengths(rowWanted, rowLeast, area.height());
    int y = 0;
    for (int r = 0; r < rows.size(); ++r) {
        QVector<int> wanted, least;
        for (int i : rows[r]) {
            wanted << preferred[i].width();
            least << minimum(i).width();
        }
        const QVector<int> widths = Lengths(wanted, least, area.width());
        int x = 0;
        for (int k = 0; k < rows[r].size(); ++k) {
            spots[rows[r][k]] = QRect(x, y, widths[k], heights[r]);
            x += widths[k];
        }
        y += heights[r];
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

AreaFitter::AreaFitter(QMdiArea *area)
    : QObject(area)
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
    if (event->type() != QEvent::Resize || !watched->isWidgetType())
        return QObject::eventFilter(watched, event);
    // The area is asked for by its type, never through the member: while the area is being destroyed
    // its viewport still gets events, and by then it is no longer an area.
    QMdiArea *area = qobject_cast<QMdiArea *>(static_cast<QWidget *>(watched)->parentWidget());
    if (area && watched == area->viewport() && area->viewMode() == QMdiArea::SubWindowView) {
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
