#include "MqttDialog.h"

#include "MemIniFile.h"
#include "Message.h"
#include "ShellTexts.h"
#include "Widgets.h"

#include <QCheckBox>
#include <QFormLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QSpinBox>
#include <QVBoxLayout>

MqttDialog::MqttDialog(MemIniFile &settings, QWidget *parent)
    : QDialog(parent), m_settings(settings)
{
    setObjectName(QStringLiteral("MqttDialog"));
    setWindowModality(Qt::WindowModal);
    m_enabled = named(new QCheckBox(this), "CheckBoxMqttEnabled");
    m_url = named(new QLineEdit(this), "EditMqttUrl");
    m_caFile = named(new QLineEdit(this), "EditMqttCaFile");
    m_clientId = named(new QLineEdit(this), "EditMqttClientId");
    m_user = named(new QLineEdit(this), "EditMqttUser");
    m_passwordFile = named(new QLineEdit(this), "EditMqttPasswordFile");
    m_prefix = named(new QLineEdit(this), "EditMqttPrefix");
    m_qos = named(new QSpinBox(this), "SpinEditMqttQos");
    m_qos->setRange(0, 2);
    m_discovery = named(new QCheckBox(this), "CheckBoxMqttDiscovery");
    m_readOnly = named(new QLabel(this), "LabelMqttReadOnly");
    m_readOnly->setWordWrap(true);
    m_ok = named(new QPushButton(this), "ButtonMqttOK");
    m_cancel = named(new QPushButton(this), "ButtonMqttCancel");
    m_ok->setDefault(true);

    auto *form = new QFormLayout;
    QWidget *fields[7] = {m_url, m_caFile, m_clientId, m_user, m_passwordFile, m_prefix, m_qos};
    for (int i = 0; i < 7; ++i) {
        m_labels[i] = new QLabel(this);
        m_labels[i]->setBuddy(fields[i]);
        form->addRow(m_labels[i], fields[i]);
    }
    form->setFieldGrowthPolicy(QFormLayout::AllNonFixedFieldsGrow);
    auto *bottom = new QHBoxLayout;
    bottom->addStretch();
    bottom->addWidget(m_ok);
    bottom->addWidget(m_cancel);
    auto *top = new QVBoxLayout(this);
    top->addWidget(m_enabled);
    top->addLayout(form);
    top->addWidget(m_discovery);
    top->addWidget(m_readOnly);
    top->addStretch();
    top->addLayout(bottom);
    resize(900, 400);

    // The connection's fields mean nothing while publishing is off; they stay as they are.
    auto enable = [this](bool on) {
        for (QWidget *w : std::initializer_list<QWidget *>{m_url, m_caFile, m_clientId, m_user,
                                                           m_passwordFile, m_prefix, m_qos,
                                                           m_discovery})
            w->setEnabled(on);
    };
    connect(m_enabled, &QCheckBox::toggled, this, enable);
    connect(m_ok, &QPushButton::clicked, this, &MqttDialog::accept);
    connect(m_cancel, &QPushButton::clicked, this, &QDialog::reject);
    save = [this] {
        QString reason;
        if (m_settings.updateFile(&reason))
            return true;
        ShowMessageBox(Text(Msg::n724), m_settings.fileName() + QStringLiteral(": ") + reason,
                       MessageIcon::Error);
        return false;
    };
    ApplyCaptions();
}

QString MqttDialog::Text(const TextKey &key) const { return LookupText(m_settings, key); }

void MqttDialog::ApplyCaptions()
{
    setWindowTitle(Text(Msg::n724));
    m_enabled->setText(Text(Msg::n725));
    const TextKey *keys[7] = {&Msg::n726, &Msg::n727, &Msg::n728, &Msg::n729,
                              &Msg::n730, &Msg::n731, &Msg::n732};
    for (int i = 0; i < 7; ++i)
        m_labels[i]->setText(Text(*keys[i]));
    m_discovery->setText(Text(Msg::n733));
    m_readOnly->setText(Text(Msg::n734));
    m_ok->setText(Text(Msg::n431));
    m_cancel->setText(Text(Msg::n432));
}

void MqttDialog::Edit()
{
    const MqttSettings s = MqttSettingsFrom(m_settings);
    m_url->setText(s.url);
    m_caFile->setText(s.caFile);
    m_clientId->setText(s.clientId);
    m_user->setText(s.user);
    m_passwordFile->setText(s.passwordFile);
    m_prefix->setText(s.prefix);
    m_qos->setValue(s.qos);
    m_discovery->setChecked(s.discovery);
    m_enabled->setChecked(!s.enabled); // the handler runs whichever way it stands
    m_enabled->setChecked(s.enabled);
    open();
}

MqttSettings MqttDialog::settings() const
{
    MqttSettings s = MqttSettingsFrom(m_settings);
    s.enabled = m_enabled->isChecked();
    s.url = m_url->text().trimmed();
    s.caFile = m_caFile->text().trimmed();
    s.clientId = m_clientId->text().trimmed();
    s.user = m_user->text().trimmed();
    s.passwordFile = m_passwordFile->text().trimmed();
    s.prefix = m_prefix->text().trimmed();
    s.qos = m_qos->value();
    s.discovery = m_discovery->isChecked();
    return s;
}

void MqttDialog::accept()
{
    const MqttSettings s = settings();
    QString error;
    // Switched off, the rest is kept as typed: it is checked when switched on again.
    if (s.enabled && !CheckMqttSettings(s, m_settings, error)) {
        ShowMessageBox(Text(Msg::n724), error, MessageIcon::Error);
        return; // stays open: the user mends it or cancels
    }
    const MqttSettings before = MqttSettingsFrom(m_settings);
    StoreMqttSettings(m_settings, s);
    if (save && !save()) {
        StoreMqttSettings(m_settings, before); // in memory as on disk
        return;
    }
    QDialog::accept();
    emit SettingsWritten(s);
}
