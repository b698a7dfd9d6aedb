#include "mainwindow/QuotaChartView.h"

#include <QChart>
#include <QLegend>
#include <QPen>
#include <QPieSeries>
#include <QPieSlice>

namespace {

QPieSlice *addSlice(QPieSeries *series, const QString &label, qint64 amount, const QColor &colour) {
    // More used than the quota gives a negative free figure: it keeps its
    // label but takes no room in the pie.
    QPieSlice *slice = series->append(label, qreal(qMax<qint64>(0, amount)));
    slice->setColor(colour);
    // An empty slice is a line from the centre: it gets no border at all.
    slice->setPen(amount > 0 ? QPen(Qt::white, 2) : QPen(Qt::NoPen));
    slice->setLabelColor(Qt::black);
    slice->setLabelPosition(QPieSlice::LabelOutside);
    // A slice of nothing has no place of its own for a label; the legend
    // still names it.
    slice->setLabelVisible(amount > 0);
    return slice;
}

} // namespace

QuotaChartView::QuotaChartView(QWidget *parent)
    : QChartView(parent)
    , m_series(new QPieSeries) {
    setRenderHint(QPainter::Antialiasing);
    setStyleSheet(QStringLiteral("background: transparent;"));
    QChart *pie = chart();
    pie->setBackgroundVisible(false);
    pie->setDropShadowEnabled(false);
    pie->setAnimationOptions(QChart::NoAnimation);
    // Outside labels need room around the pie, or long figures are cut.
    m_series->setPieSize(0.55);
    pie->addSeries(m_series);
    pie->legend()->setAlignment(Qt::AlignRight);
    pie->legend()->setMarkerShape(QLegend::MarkerShapeRectangle);
    pie->legend()->setLabelColor(Qt::black);
    pie->legend()->setVisible(true);
    setMinimumSize(360, 240);
}

void QuotaChartView::showUsage(qint64 freeAmount, qint64 usedAmount, const QString &unit) {
    m_series->clear();
    const QString space = QStringLiteral(" ");
    addSlice(m_series, QStringLiteral("Libero: ") + QString::number(freeAmount) + space + unit,
             freeAmount, QColor(0x13, 0xe8, 0x37));
    addSlice(m_series, QStringLiteral("Utilizzato: ") + QString::number(usedAmount) + space + unit,
             usedAmount, QColor(0xFF, 0x00, 0x00));
}

void QuotaChartView::clearUsage() {
    m_series->clear();
}
