#ifndef MARGBENCH_COVERAGEMAP_H
#define MARGBENCH_COVERAGEMAP_H

#include "fieldsweep.h"

#include <QtWidgets/QWidget>

#include <array>

// The sphere of field directions as the magnetometer sweep covers it, drawn as an equal-area map:
// ten bands from +z (top) to -z (bottom), ten sectors of longitude from -x through -y, +x and +y
// back to -x. A covered region is filled.
class SphereCoverageMap : public QWidget
{
    Q_OBJECT

public:
    explicit SphereCoverageMap(QWidget *parent = nullptr);

    void SetRegions(const std::array<bool, marg::kCoverageRegions> &covered);
    const std::array<bool, marg::kCoverageRegions> &Regions() const { return regions; }
    QSize sizeHint() const override;
    QSize minimumSizeHint() const override;

protected:
    void paintEvent(QPaintEvent *event) override;

private:
    std::array<bool, marg::kCoverageRegions> regions{};
};

#endif // MARGBENCH_COVERAGEMAP_H
