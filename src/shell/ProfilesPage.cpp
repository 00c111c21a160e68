#include "ProfilesPage.h"

#include "ConnectSettingsPage.h"
#include "MainState.h"
#include "Message.h"
#include "ProfileFile.h"
#include "ProfilePaths.h"
#include "RelaySettingsPage.h"
#include "SensorSettingsPage.h"
#include "SettingsMessage.h"
#include "ShellTexts.h"
#include "Widgets.h"

#include <QCheckBox>
#include <QDir>
#include <QFileDialog>
#include <QFileInfo>
#include <QGridLayout>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>

ProfilesPage::ProfilesPage(MainState &state, SensorSettingsPage &sensors,
                           RelaySettingsPage &relays, ConnectSettingsPage &connectPage,
                           QWidget *parent)
    : QorPage(QStringLiteral("TabSheetProfiles"), state, parent), m_sensors(sensors),
      m_relays(relays), m_connect(connectPage)
{
    CheckBoxQorDoID = named(new QCheckBox(QStringLiteral("Сохранять ID датчика в профиле")),
                            "CheckBoxQorDoID");
    Label41 = named(new QLabel(QStringLiteral("Текущий файл профиля")), "Label41");
    EditQorProfileFile = named(new QLineEdit, "EditQorProfileFile");
    EditQorProfileFile->setMinimumWidth(480);
    ButtonQorChangeProfileFile = namedButton("ButtonQorChangeProfileFile", "...");
    ButtonQorChangeProfileFile->setFixedWidth(32);
    ButtonQorLoadUserFromProfile = namedButton("ButtonQorLoadUserFromProfile",
                                               "Загрузить текущий профиль в таблицы пользователя");
    ButtonQorLoadControllerFromProfile =
        namedButton("ButtonQorLoadControllerFromProfile",
                    "Загрузить текущий профиль из таблиц в контроллер");
    Label41->setBuddy(EditQorProfileFile);

    auto *page = new QGridLayout(ScrolledBody());
    page->addWidget(CheckBoxQorDoID, 0, 0, 1, 3);
    page->addWidget(Label41, 1, 0, 1, 3);
    page->addWidget(EditQorProfileFile, 2, 0, 1, 2);
    page->addWidget(ButtonQorChangeProfileFile, 2, 2);
    page->addWidget(ButtonQorLoadUserFromProfile, 3, 0); // both as wide as the wider
    page->addWidget(ButtonQorLoadControllerFromProfile, 4, 0);
    page->setColumnStretch(1, 1);
    page->setColumnStretch(3, 1);
    page->setRowStretch(5, 1);
    page->setVerticalSpacing(12);

    // clicked, not toggled: showing the page sets the box without saving start.ini.
    connect(CheckBoxQorDoID, &QCheckBox::clicked, this, &ProfilesPage::CheckBoxQorDoIDClick);
    connect(ButtonQorChangeProfileFile, &QPushButton::clicked, this,
            &ProfilesPage::ButtonQorChangeProfileFileClick);
    connect(ButtonQorLoadUserFromProfile, &QPushButton::clicked, this,
            &ProfilesPage::ButtonQorLoadUserFromProfileClick);
    connect(ButtonQorLoadControllerFromProfile, &QPushButton::clicked, this,
            &ProfilesPage::ButtonQorLoadControllerFromProfileClick);
}

QString ProfilesPage::Caption() const
{
    return Text("n50", "Профили");
}

void ProfilesPage::ApplyCaptions()
{
    CheckBoxQorDoID->setText(Text("n51", "Сохранять ID датчика в профиле"));
    Label41->setText(Text("n52", "Текущий файл профиля"));
    ButtonQorLoadUserFromProfile->setText(
        Text("n53", "Загрузить текущий профиль в таблицы пользователя"));
    ButtonQorLoadControllerFromProfile->setText(
        Text("n54", "Загрузить текущий профиль из таблиц в контроллер"));
}

void ProfilesPage::Shown()
{
    MainState &s = m_state;
    s.ProfilesShown();
    CheckBoxQorDoID->setChecked(ProfileStoresIds(s.settingsIni));
    EditQorProfileFile->setText(
        s.settingsIni.readString(ProfileKeys::section, ProfileKeys::open, QString()));
}

ProfileContext ProfilesPage::Context() const
{
    const MainState &s = m_state;
    return {s.settingsIni, s.deviceIni, s.registerMap.MAX_SENSORS,
            [](const QString &caption, const QString &text) {
                ShowMessageBox(caption, text, MessageIcon::None);
            },
            s.registerMap.QOR_SENSOR_TAG_SIZE};
}

void ProfilesPage::CheckBoxQorDoIDClick()
{
    m_state.settingsIni.writeInteger(ProfileKeys::section, ProfileKeys::doid,
                                     CheckBoxQorDoID->isChecked() ? 1 : 0);
    m_state.SaveSettings();
}

QFileDialog *ProfilesPage::FileDialog(QFileDialog *&dialog, const char *name)
{
    if (dialog)
        return dialog;
    dialog = named(new QFileDialog(this), QString::fromLatin1(name));
    if (&dialog == &SaveDialog1) {
        dialog->setAcceptMode(QFileDialog::AcceptSave);
        dialog->setFileMode(QFileDialog::AnyFile);
        // The file written may be another than the one chosen (".txt" is added), so the
        // question is asked in SaveTargetChosen about the right file, without a nested loop.
        dialog->setOption(QFileDialog::DontConfirmOverwrite);
        connect(dialog, &QDialog::finished, this, &ProfilesPage::SaveTargetChosen);
    } else {
        dialog->setAcceptMode(QFileDialog::AcceptOpen);
        // Any name is taken, so that the dialog never runs a box of its own (a nested event
        // loop) for a missing file; loading one says so.
        dialog->setFileMode(QFileDialog::AnyFile);
        connect(dialog, &QDialog::finished, this, &ProfilesPage::ProfileFileChosen);
    }
    return dialog;
}

void ProfilesPage::ToolButtonQorSaveProfileClick()
{
    QFileDialog *dialog = FileDialog(SaveDialog1, "SaveDialog1");
    if (dialog->isVisible())
        return;
    // The file dialog may change the working directory; start.ini, Cfg and Trends rely on it.
    // Titles and filters in the language in use when it opens.
    dialog->setWindowTitle(m_state.Text(Msg::n440));
    dialog->setNameFilter(m_state.Text(Msg::n439));
    m_folderBeforeDialog = QDir::currentPath();
    const QString folder = ProfileSaveDialogFolder(
        m_state.settingsIni, QDir::toNativeSeparators(m_folderBeforeDialog));
    dialog->setDirectory(folder.isEmpty() ? m_folderBeforeDialog
                                          : QDir::fromNativeSeparators(folder));
    dialog->open();
}

void ProfilesPage::SaveTargetChosen(int result)
{
    QDir::setCurrent(m_folderBeforeDialog);
    const QStringList files = SaveDialog1->selectedFiles();
    if (result != QDialog::Accepted || files.isEmpty())
        return;
    const QString target = QDir::toNativeSeparators(ProfileTargetPath(files.constFirst()));
    if (!QFileInfo::exists(target)) {
        SaveProfileTo(target);
        return;
    }
    const MemIniFile &settings = m_state.settingsIni;
    auto *box = new QMessageBox(
        QMessageBox::Warning, SaveDialog1->windowTitle(),
        FixedText(settings, u"Файл %1 уже существует.\nЗаменить его?",
                  "%1 already exists.\nDo you want to replace it?")
            .arg(target),
        QMessageBox::Yes | QMessageBox::No, window());
    box->setObjectName(QStringLiteral("ProfileOverwriteBox"));
    box->setAttribute(Qt::WA_DeleteOnClose);
    box->button(QMessageBox::Yes)->setText(FixedText(settings, u"Да", "Yes"));
    box->button(QMessageBox::No)->setText(FixedText(settings, u"Нет", "No"));
    box->setDefaultButton(QMessageBox::No);
    connect(box, &QDialog::finished, this, [this, box, target] {
        if (box->standardButton(box->clickedButton()) == QMessageBox::Yes)
            SaveProfileTo(target);
    });
    box->open();
}

void ProfilesPage::SaveProfileTo(const QString &target)
{
    MainState &s = m_state;
    s.settingsIni.writeString(ProfileKeys::section, ProfileKeys::save, target);
    s.SaveSettings();
    // The connection values as the page shows them now, whether or not they were checked.
    ConnectUserValues values = m_connect.UserConnectValues();
    SaveProfileFile(target, {s.sensorSettingsUser, s.tagUser, s.relaySettingsUser, values},
                    s.hardwareVersionText, s.firmwareVersionText, ProfileStoresIds(s.settingsIni),
                    Context());
}

void ProfilesPage::ChooseProfileFile(bool loadAfter)
{
    QFileDialog *dialog = FileDialog(OpenDialog1, "OpenDialog1");
    if (dialog->isVisible())
        return;
    dialog->setWindowTitle(m_state.Text(Msg::n441));
    const QString textFiles = m_state.Text(Msg::n439);
    dialog->setNameFilters({textFiles, m_state.Text(Msg::n434)});
    m_loadAfterChoice = loadAfter;
    m_folderBeforeDialog = QDir::currentPath();
    const QString current =
        m_state.settingsIni.readString(ProfileKeys::section, ProfileKeys::open, QString());
    const QString folder = ProfileFolderOf(current);
    dialog->setDirectory(folder.isEmpty() ? m_folderBeforeDialog
                                          : QDir::fromNativeSeparators(folder));
    dialog->selectNameFilter(textFiles);
    // The current profile file is offered; a name typed last time does not stay.
    dialog->selectFile(folder.isEmpty() ? QString() : QFileInfo(current).fileName());
    dialog->open();
}

void ProfilesPage::ProfileFileChosen(int result)
{
    QDir::setCurrent(m_folderBeforeDialog);
    const QStringList files = OpenDialog1->selectedFiles();
    if (result != QDialog::Accepted || files.isEmpty())
        return;
    MainState &s = m_state;
    const QString path = QDir::toNativeSeparators(files.constFirst());
    s.settingsIni.writeString(ProfileKeys::section, ProfileKeys::open, path);
    s.SaveSettings();
    EditQorProfileFile->setText(path);
    if (m_loadAfterChoice)
        LoadProfileFrom(path);
}

void ProfilesPage::LoadProfileFrom(const QString &path)
{
    // A write-back that started while the dialog was open locks the tables (and this
    // button): a table changed half-way through a write would be sent as a mix.
    if (!ButtonQorLoadUserFromProfile->isEnabled())
        return;
    MainState &s = m_state;
    ConnectUserValues values = m_connect.UserConnectValues();
    // Loaded into a copy, not into MainState::connectUser: that holds what a pending
    // connection write sends, as its button checked it.
    if (LoadProfileFile(path, {s.sensorSettingsUser, s.tagUser, s.relaySettingsUser, values},
                        Context()))
        m_connect.ShowUserConnectValues(values);
}

void ProfilesPage::ButtonQorChangeProfileFileClick()
{
    ChooseProfileFile(false);
}

void ProfilesPage::ToolButtonQorOpenProfileClick()
{
    ChooseProfileFile(true);
}

void ProfilesPage::ButtonQorLoadUserFromProfileClick()
{
    LoadProfileFrom(EditQorProfileFile->text());
}

void ProfilesPage::ButtonQorLoadControllerFromProfileClick()
{
    MainState &s = m_state;
    // A profile goes in whole or not at all: with a controller copy still unread, its part
    // would be refused while the others went out (the connection block among them).
    if (s.linkUp && (!s.SensorCopyReadFor(s.sensorSettingsUser) || !s.RelayCopyRead() ||
                     !s.connectCopyRead)) {
        ShowMessageBox(s.Text(Msg::n67), s.Text(Msg::n133), MessageIcon::None);
        return;
    }
    // Each exactly as its own button: nothing while offline, its own check and messages.
    m_sensors.ButtonDownloadSensorSettingtsToQorClick();
    m_relays.ButtonDownloadRelaySettingsToQorClick();
    m_connect.ButtonWriteConnectSettingsToQorClick();
    s.profileWriteRequested = s.AnyWriteRequested(); // the audit trail names the profile
    s.pollSensorData = s.pollSensorSettings = s.pollRelaySettings = false;
}
