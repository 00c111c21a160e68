#pragma once
#include <QDialog>
#include <array>
#include <functional>

class QCheckBox;
class QGroupBox;
class QPushButton;

// Ticks the sensors the user table is to show: one box per sensor, 36 at most.
class TFormQorSelectSensors : public QDialog {
    Q_OBJECT
public:
    static constexpr int kBoxes = 36;
    explicit TFormQorSelectSensors(QWidget *parent = nullptr);

    // Captions "<word> k" for the first maxSensors boxes; the all-buttons touch only those.
    void Prepare(const QString &sensorWord, int maxSensors);
    void ApplyLanguage(const std::function<QString(const char *, const char *)> &text);

    std::array<QCheckBox *, kBoxes> sensorCheckBoxes{};
    bool selectionConfirmed = false;

private:
    int m_maxSensors = kBoxes;
    QGroupBox *GroupBox1;
    QPushButton *ButtonConfirmSelection, *ButtonCancelSelection, *ButtonQorSelectAll,
        *ButtonQorDeselectAll;
};
