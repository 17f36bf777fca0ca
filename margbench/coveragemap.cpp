#include "coveragemap.h"

#include <QtGui/QPainter>

#include <algorithm>

SphereCoverageMap::SphereCoverageMap(QWidget *parent)
    : QWidget(parent)
{
    setObjectName(QStringLiteral("widget_FieldCoverage"));
    setToolTip(tr("Directions of the field covered by the sweep: the sphere in 100 regions of equal area, +z at "
                  "the top, -z at the bottom, the longitude from -x through -y, +x and +y"));
}

void SphereCoverageMap::SetRegions(const std::array<bool, marg::kCoverageRegions> &covered)
{
    if (covered == regions)
        return;
    regions = covered;
    update();
}

QSize SphereCoverageMap::sizeHint() const { return {300, 170}; }

QSize SphereCoverageMap::minimumSizeHint() const { return {200, 120}; }

void SphereCoverageMap::paintEvent(QPaintEvent *)
{
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing, false);
    const QFontMetrics metrics = fontMetrics();
    const int count = int(std::count(regions.begin(), regions.end(), true));
    const QString title = tr("Field directions covered: %1 of %2").arg(count).arg(marg::kCoverageRegions);

    const int left = metrics.horizontalAdvance(QStringLiteral("-z ")) + 2;
    const int top = metrics.height() + 4;
    const int bottom = metrics.height() + 4;
    const int cellW = std::max(4, (width() - left - 4) / marg::kCoverageSectors);
    const int cellH = std::max(4, (height() - top - bottom) / marg::kCoverageBands);
    const QRect grid(left, top, cellW * marg::kCoverageSectors, cellH * marg::kCoverageBands);

    const QPalette &pal = palette();
    painter.setPen(pal.color(QPalette::WindowText));
    painter.drawText(QRect(0, 0, width(), top), Qt::AlignLeft | Qt::AlignVCenter, title);

    const QColor covered(70, 180, 110);
    const QColor open = pal.color(QPalette::Base);
    const QColor line = pal.color(QPalette::Mid);
    for (int band = 0; band < marg::kCoverageBands; ++band) {
        for (int sector = 0; sector < marg::kCoverageSectors; ++sector) {
            const QRect cell(grid.left() + sector * cellW, grid.top() + band * cellH, cellW, cellH);
            painter.fillRect(cell, regions[size_t(band * marg::kCoverageSectors + sector)] ? covered : open);
            painter.setPen(line);
            painter.drawRect(cell.adjusted(0, 0, -1, -1));
        }
    }

    // The axes: +z, the equator and -z at the side, the longitudes of the four horizontal axes below.
    painter.setPen(pal.color(QPalette::WindowText));
    const int textH = metrics.height();
    painter.drawText(QRect(0, grid.top(), left - 2, textH), Qt::AlignRight | Qt::AlignTop, QStringLiteral("+z"));
    painter.drawText(QRect(0, grid.center().y() - textH / 2, left - 2, textH), Qt::AlignRight | Qt::AlignVCenter,
                     QStringLiteral("0"));
    painter.drawText(QRect(0, grid.bottom() - textH, left - 2, textH), Qt::AlignRight | Qt::AlignBottom,
                     QStringLiteral("-z"));
    static const char *const kLongitudes[5] = {"-x", "-y", "+x", "+y", "-x"};
    for (int i = 0; i < 5; ++i) {
        const int x = grid.left() + grid.width() * i / 4;
        painter.drawLine(x, grid.bottom() + 1, x, grid.bottom() + 4);
        const Qt::Alignment align = i == 0 ? Qt::AlignLeft : i == 4 ? Qt::AlignRight : Qt::AlignHCenter;
        const int w = 40;
        const int boxLeft = i == 0 ? x : i == 4 ? x - w : x - w / 2;
        painter.drawText(QRect(boxLeft, grid.bottom() + 4, w, textH), align | Qt::AlignTop,
                         QString::fromLatin1(kLongitudes[i]));
    }
}
