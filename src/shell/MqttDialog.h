#pragma once
#include "LookupText.h"
#include "MqttSettings.h"

#include <QDialog>
#include <functional>

class MemIniFile;
class QCheckBox;
class QLabel;
class QLineEdit;
class QPushButton;
class QSpinBox;

namespace Msg {
inline constexpr TextKey n724{"n724", u"Показания в MQTT"};
inline constexpr TextKey n725{"n725", u"Публиковать показания на брокере MQTT"};
inline constexpr TextKey n726{"n726", u"Адрес брокера (mqtt://хост:порт, mqtts://хост:порт)"};
inline constexpr TextKey n727{"n727", u"Файл сертификата центра (для mqtts)"};
inline constexpr TextKey n728{"n728", u"Идентификатор клиента (пусто: velmaris-имя компьютера-номер процесса)"};
inline constexpr TextKey n729{"n729", u"Имя пользователя (пусто: без входа)"};
inline constexpr TextKey n730{"n730", u"Файл пароля (первая строка; доступ только владельцу, chmod 600)"};
inline constexpr TextKey n731{"n731", u"Префикс тем"};
inline constexpr TextKey n732{"n732", u"Качество обслуживания (QoS)"};
inline constexpr TextKey n733{"n733", u"Обнаружение в Home Assistant"};
inline constexpr TextKey n734{"n734", u"Только чтение: из MQTT в контроллер ничего не записывается."};
inline constexpr TextKey n735{"n735", u"Публикация показаний в MQTT"};
} // namespace Msg

// start.ini [mqtt] edited. OK checks the settings as the bridge would (URL, CA file,
// password file, prefix): a refused one is told and nothing is written; else [mqtt] is
// written to start.ini and SettingsWritten tells the owner to restart the bridge.
class MqttDialog : public QDialog {
    Q_OBJECT
public:
    MqttDialog(MemIniFile &settings, QWidget *parent = nullptr);

    // Shows [mqtt] as it stands (window-modal, open(): the caller goes on at once).
    void Edit();
    // The settings as the fields stand (what the dialog does not show, from start.ini).
    MqttSettings settings() const;
    void ApplyCaptions();

    // Writes the settings file; false when it could not (the saver tells why). The owner
    // gives its own (the window's, with its message); by default the file is rewritten.
    std::function<bool()> save;

signals:
    void SettingsWritten(const MqttSettings &settings);

public slots:
    void accept() override;

private:
    QString Text(const TextKey &key) const;

    MemIniFile &m_settings;
    QCheckBox *m_enabled, *m_discovery;
    QLineEdit *m_url, *m_caFile, *m_clientId, *m_user, *m_passwordFile, *m_prefix;
    QSpinBox *m_qos;
    QLabel *m_labels[7];
    QLabel *m_readOnly;
    QPushButton *m_ok, *m_cancel;
};
