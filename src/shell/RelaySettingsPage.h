#pragma once
#include "QorPage.h"

class GridView;
class QGroupBox;
class QPlainTextEdit;
class QPushButton;

// TabSheetRelaySettings: the controller's relay settings and the user's copy written back.
class RelaySettingsPage : public QorPage {
    Q_OBJECT
public:
    explicit RelaySettingsPage(MainState &state, QWidget *parent = nullptr);

    QString Caption() const override;
    void ApplyCaptions() override;
    void Shown() override;
    void ApplyAccessMode(bool full) override;

public slots:
    void ButtonCopyRelaySettingsToUserClick();
    void ButtonDownloadRelaySettingsToQorClick();

private:
    QGroupBox *GroupBox24, *GroupBox28;
    GridView *StringGridRelaySettings, *StringGridRelaySettingsUser;
    QPushButton *ButtonCopyRelaySettingsToUser, *ButtonDownloadRelaySettingsToQor;
    QPlainTextEdit *Memo1;
};
