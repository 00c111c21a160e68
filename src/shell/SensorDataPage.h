#pragma once
#include "QorPage.h"

class GridView;
class QGroupBox;

// TabSheetSensorData: the live values of the registered sensors in two grids side by side.
class SensorDataPage : public QorPage {
    Q_OBJECT
public:
    explicit SensorDataPage(MainState &state, QWidget *parent = nullptr);

    QString Caption() const override;
    void ApplyCaptions() override;
    void Shown() override;
    // Both grids show all their rows, and columns wide enough for the longest text.
    void LayoutChanged();

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    void SensorsDataMouseMove(GridView *grid, int x);

    QGroupBox *GroupBox22;
    GridView *StringGridSensorsData, *StringGridSensorsData2;
};
