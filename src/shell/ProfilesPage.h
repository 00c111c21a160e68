#pragma once
#include "QorPage.h"

class ConnectSettingsPage;
class QCheckBox;
class QFileDialog;
class QLabel;
class QLineEdit;
class QMessageBox;
class QPushButton;
class RelaySettingsPage;
class SensorSettingsPage;
struct ProfileContext;
struct ProfileUserSide;

// TabSheetProfiles: the profile files of the user tables, and writing the user tables into
// the controller. The tool bar's three profile buttons run this page's actions.
class ProfilesPage : public QorPage {
    Q_OBJECT
public:
    ProfilesPage(MainState &state, SensorSettingsPage &sensors, RelaySettingsPage &relays,
                 ConnectSettingsPage &connectPage, QWidget *parent = nullptr);

    QString Caption() const override;
    void ApplyCaptions() override;
    void Shown() override;

public slots:
    void CheckBoxQorDoIDClick();
    void ToolButtonQorSaveProfileClick();
    void ToolButtonQorOpenProfileClick();
    void ButtonQorChangeProfileFileClick();
    void ButtonQorLoadUserFromProfileClick();
    void ButtonQorLoadControllerFromProfileClick();

private:
    // Opens OpenDialog1 on the folder of [profile] open; loadAfter: load the chosen file.
    void ChooseProfileFile(bool loadAfter);
    // The finished handlers of the dialogs.
    void ProfileFileChosen(int result);
    void SaveTargetChosen(int result);
    void SaveProfileTo(const QString &target);
    void LoadProfileFrom(const QString &path);
    QFileDialog *FileDialog(QFileDialog *&dialog, const char *name);
    ProfileContext Context() const;

    SensorSettingsPage &m_sensors;
    RelaySettingsPage &m_relays;
    ConnectSettingsPage &m_connect;
    QCheckBox *CheckBoxQorDoID;
    QLabel *Label41;
    QLineEdit *EditQorProfileFile;
    QPushButton *ButtonQorChangeProfileFile, *ButtonQorLoadUserFromProfile,
        *ButtonQorLoadControllerFromProfile;
    // Made at first use: a file dialog costs its start-up time.
    QFileDialog *OpenDialog1 = nullptr;
    QFileDialog *SaveDialog1 = nullptr;
    QString m_folderBeforeDialog; // the working directory, put back when a dialog ends
    bool m_loadAfterChoice = false;
};
