#pragma once
#include "QorPage.h"
#include "SettingsValidation.h"

class QComboBox;
class QGroupBox;
class QLabel;
class QLineEdit;
class QPushButton;

// TabSheetConnectSettings: the controller's own link and menu-language settings, read from
// it, and the user's values written into it.
class ConnectSettingsPage : public QorPage {
    Q_OBJECT
public:
    explicit ConnectSettingsPage(MainState &state, QWidget *parent = nullptr);

    QString Caption() const override;
    void ApplyCaptions() override;
    void Shown() override;
    void ApplyAccessMode(bool full) override;

    // The controller column from MainState::connectContr.
    void ShowControllerConnectSettings();
    // The user column as it stands, unchecked (a combo box counts only a chosen item).
    ConnectUserValues UserConnectValues() const;
    // Puts values into the user column; an item index outside the list shows no item.
    void ShowUserConnectValues(const ConnectUserValues &values);

public slots:
    void ButtonQorCopyConnectToUserClick();
    void ButtonWriteConnectSettingsToQorClick();

private:
    QGroupBox *GroupBox29, *GroupBox25;
    QLabel *Label43, *Label44, *Label45, *Label46, *Label47, *Label48;
    QLabel *Label35, *Label37, *Label38, *Label39, *Label40, *Label42;
    QLineEdit *EditQorAddrContr, *EditQorChanContr, *EditQorAddr, *EditQorChan;
    QComboBox *ComboBoxQorBaudRateContr, *ComboBoxQorParityContr, *ComboBoxQorStopsContr,
        *ComboBoxQorMenuLanguageContr;
    QComboBox *ComboBoxQorBaudRate, *ComboBoxQorParity, *ComboBoxQorStops, *ComboBoxQorMenuLanguage;
    QPushButton *ButtonQorCopyConnectToUser, *ButtonWriteConnectSettingsToQor;
};
