#pragma once
#include "QorPage.h"

class GridView;
class QCheckBox;
class QFileDialog;
class QGroupBox;
class QMenu;
class QPlainTextEdit;
class QPushButton;
class TFormQorSelectSensors;

// TabSheetSensorSettings: the controller's sensor settings with their tags, the user's copy
// that is written back, the sensor selection and the tag-file loader.
class SensorSettingsPage : public QorPage {
    Q_OBJECT
public:
    SensorSettingsPage(MainState &state, TFormQorSelectSensors &selectDlg,
                       QWidget *parent = nullptr);

    QString Caption() const override;
    void ApplyCaptions() override;
    void Shown() override;
    void ApplyAccessMode(bool full) override;

    // The tag tables exist from firmware 1.2 on.
    void ShowTagTables(bool shown);
    // Rows of the controller grid that are fully in sight.
    int VisibleRows() const;
    void EnableCopy(bool enabled);

public slots:
    void ButtonCopySensorSettingsToUserClick();
    void ButtonSelectSensorsClick();
    void ButtonSetZeroClick();
    void ButtonDownloadSensorSettingtsToQorClick();
    void LoadFromFileItemClick();

private:
    void ConnectHandlers();
    // The finished handlers of the two dialogs the page opens.
    void SensorsSelected(int result);
    void TagFileChosen(int result);

    TFormQorSelectSensors &m_select;
    QGroupBox *GroupBox23, *GroupBox27;
    GridView *StringGridSensorSettings, *StringGridTagContr, *StringGridSensorSettingsUser,
        *StringGridTagUser;
    QPushButton *ButtonCopySensorSettingsToUser, *ButtonSelectSensors,
        *ButtonDownloadSensorSettingtsToQor, *ButtonSetZero;
    QCheckBox *CheckBoxOverWriteID;
    QPlainTextEdit *Memo2;
    QMenu *PopupMenuTags;
    QFileDialog *OpenDialogTags = nullptr;
    QString m_folderBeforeDialog; // the working directory, put back when the dialog ends
};
