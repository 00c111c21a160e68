#include "SettingNames.h"

#include "CliTexts.h"

namespace {

struct Column {
    const char *name; // in the setting's name; empty: shown in readable lines only
    const TextKey *label;
};

// Index = the column of the table (or the word of the connection block).
const Column kSensorColumns[] = {{"", nullptr},
                                 {"", &Msg::n501},
                                 {"threshold1", &Msg::n502},
                                 {"threshold2", &Msg::n503},
                                 {"hysteresis", &Msg::n504},
                                 {"relay1", &Msg::n505},
                                 {"relay2", &Msg::n506}};
const Column kRelayColumns[] = {{"", nullptr},
                                {"mode", &Msg::n509},
                                {"on-delay", &Msg::n510},
                                {"off-delay", &Msg::n511},
                                {"link-timeout", &Msg::n512}};
const Column kConnectWords[] = {{"", &Msg::n513}, {"", &Msg::n514},        {"", &Msg::n515},
                                {"", &Msg::n516}, {"channel", &Msg::n517}, {"", &Msg::n518}};

template <size_t N> int ColumnOf(const Column (&columns)[N], const QString &name) {
    for (size_t c = 0; c < N; ++c)
        if (*columns[c].name && name == QLatin1String(columns[c].name))
            return int(c);
    return -1;
}

template <size_t N> const Column *At(const Column (&columns)[N], int c) {
    return c >= 0 && size_t(c) < N ? &columns[c] : nullptr;
}

} // namespace

std::optional<SettingName> ParseSettingName(const QString &text) {
    const QStringList parts = text.trimmed().toLower().split(u'.');
    if (parts.size() == 2 && parts[0] == QLatin1String("connect")) {
        const int c = ColumnOf(kConnectWords, parts[1]);
        if (c < 0)
            return std::nullopt;
        return SettingName{SettingName::Area::Connect, 0, c};
    }
    if (parts.size() != 3)
        return std::nullopt;
    bool ok = false;
    const int n = parts[1].toInt(&ok);
    if (!ok || n < 1 || n > 999 || parts[1] != QString::number(n))
        return std::nullopt;
    if (parts[0] == QLatin1String("sensor")) {
        const int c = ColumnOf(kSensorColumns, parts[2]);
        return c < 0 ? std::nullopt : std::optional(SettingName{SettingName::Area::Sensor, n, c});
    }
    if (parts[0] == QLatin1String("relay")) {
        const int c = ColumnOf(kRelayColumns, parts[2]);
        return c < 0 ? std::nullopt : std::optional(SettingName{SettingName::Area::Relay, n, c});
    }
    return std::nullopt;
}

QStringList SettingNamePatterns() {
    QStringList names;
    for (const Column &c : kSensorColumns)
        if (*c.name)
            names << QStringLiteral("sensor.N.") + QLatin1String(c.name);
    for (const Column &c : kRelayColumns)
        if (*c.name)
            names << QStringLiteral("relay.N.") + QLatin1String(c.name);
    for (const Column &c : kConnectWords)
        if (*c.name)
            names << QStringLiteral("connect.") + QLatin1String(c.name);
    return names;
}

QString SettingName::name() const {
    switch (area) {
    case Area::Sensor:
        return QStringLiteral("sensor.%1.%2")
            .arg(number)
            .arg(QLatin1String(At(kSensorColumns, column)->name));
    case Area::Relay:
        return QStringLiteral("relay.%1.%2")
            .arg(number)
            .arg(QLatin1String(At(kRelayColumns, column)->name));
    case Area::Connect:
        break;
    }
    return QStringLiteral("connect.") + QLatin1String(At(kConnectWords, column)->name);
}

QString SettingName::label(const MemIniFile &settings) const {
    const Column *c = area == Area::Sensor  ? At(kSensorColumns, column)
                      : area == Area::Relay ? At(kRelayColumns, column)
                                            : At(kConnectWords, column);
    const QString what = c && c->label ? LookupText(settings, *c->label) : QString::number(column);
    switch (area) {
    case Area::Sensor:
        return LookupText(settings, Msg::n500) + QString::number(number) + u' ' + what;
    case Area::Relay:
        return LookupText(settings, Msg::n508) + QString::number(number) + u' ' + what;
    case Area::Connect:
        break;
    }
    return what;
}

QString SensorTagLabel(const MemIniFile &settings, int n) {
    return LookupText(settings, Msg::n500) + QString::number(n) + u' ' +
           LookupText(settings, Msg::n507);
}

QString ConnectWordText(const MemIniFile &settings, int word, int value) {
    static const QStringList rates{"9600", "19200", "38400", "57600", "115200"};
    const TextKey *parity[] = {&Msg::n519, &Msg::n520, &Msg::n521};
    static const QStringList languages{QStringLiteral("Русский"), QStringLiteral("English")};
    switch (word) {
    case 1:
        return value >= 0 && value < rates.size() ? rates[value] : QString::number(value);
    case 2:
        return value >= 0 && value < 3 ? LookupText(settings, *parity[value])
                                       : QString::number(value);
    case 5:
        return value >= 0 && value < languages.size() ? languages[value] : QString::number(value);
    default:
        return QString::number(value);
    }
}
