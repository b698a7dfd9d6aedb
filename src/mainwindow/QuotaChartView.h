#pragma once

#include <QChartView>
#include <QString>

class QPieSeries;

// The usage pie of the current profile: the free space first (green), the
// used space second (red), each labelled with its figure, legend on the right.
class QuotaChartView : public QChartView {
    Q_OBJECT
public:
    explicit QuotaChartView(QWidget *parent = nullptr);

    void showUsage(qint64 freeAmount, qint64 usedAmount, const QString &unit);
    // No pie at all (a profile without quota).
    void clearUsage();

    QPieSeries *series() const { return m_series; }

private:
    QPieSeries *m_series;
};
