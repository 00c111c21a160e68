#include "MqttSettings.h"
#include "MqttTexts.h"

#include "LookupText.h"
#include "MemIniFile.h"

#include <QFile>
#include <QFileInfo>
#include <QUrl>

#ifndef Q_OS_WIN
#include <sys/stat.h>
#endif

namespace {
const QString kSection = QStringLiteral("mqtt");
}

MqttSettings MqttSettingsFrom(const MemIniFile &ini)
{
    MqttSettings s;
    s.enabled = ini.readInteger(kSection, QStringLiteral("enabled"), 0) != 0;
    s.url = ini.readString(kSection, QStringLiteral("url"), s.url).trimmed();
    s.caFile = ini.readString(kSection, QStringLiteral("cafile"), {}).trimmed();
    s.clientId = ini.readString(kSection, QStringLiteral("clientid"), {}).trimmed();
    s.user = ini.readString(kSection, QStringLiteral("user"), {}).trimmed();
    s.passwordFile = ini.readString(kSection, QStringLiteral("passwordfile"), {}).trimmed();
    s.prefix = ini.readString(kSection, QStringLiteral("prefix"), s.prefix).trimmed();
    s.qos = ini.readInteger(kSection, QStringLiteral("qos"), s.qos);
    s.discovery = ini.readInteger(kSection, QStringLiteral("discovery"), 1) != 0;
    s.discoveryPrefix =
        ini.readString(kSection, QStringLiteral("discoveryprefix"), s.discoveryPrefix).trimmed();
    s.keepAliveSeconds = ini.readInteger(kSection, QStringLiteral("keepalive"), s.keepAliveSeconds);
    return s;
}

void StoreMqttSettings(MemIniFile &ini, const MqttSettings &s)
{
    ini.writeInteger(kSection, QStringLiteral("enabled"), s.enabled ? 1 : 0);
    ini.writeString(kSection, QStringLiteral("url"), s.url);
    ini.writeString(kSection, QStringLiteral("cafile"), s.caFile);
    ini.writeString(kSection, QStringLiteral("clientid"), s.clientId);
    ini.writeString(kSection, QStringLiteral("user"), s.user);
    ini.writeString(kSection, QStringLiteral("passwordfile"), s.passwordFile);
    ini.writeString(kSection, QStringLiteral("prefix"), s.prefix);
    ini.writeInteger(kSection, QStringLiteral("qos"), s.qos);
    ini.writeInteger(kSection, QStringLiteral("discovery"), s.discovery ? 1 : 0);
    // Written only when changed from the default: start.ini stays as shipped otherwise.
    if (s.discoveryPrefix != MqttSettings{}.discoveryPrefix ||
        ini.valueExists(kSection, QStringLiteral("discoveryprefix")))
        ini.writeString(kSection, QStringLiteral("discoveryprefix"), s.discoveryPrefix);
    if (s.keepAliveSeconds != MqttSettings{}.keepAliveSeconds ||
        ini.valueExists(kSection, QStringLiteral("keepalive")))
        ini.writeInteger(kSection, QStringLiteral("keepalive"), s.keepAliveSeconds);
}

bool ParseMqttUrl(const QString &url, MqttEndpoint &out, const MemIniFile &texts, QString &error)
{
    const QUrl u(url.trimmed(), QUrl::StrictMode);
    const QString scheme = u.scheme().toLower();
    const bool tls = scheme == QLatin1String("mqtts");
    // No user, path or query: the login lives in its own settings, and a path would be
    // silently ignored by the broker.
    const bool ok = u.isValid() && (tls || scheme == QLatin1String("mqtt")) &&
                    !u.host().isEmpty() && u.userInfo().isEmpty() &&
                    (u.path().isEmpty() || u.path() == QLatin1String("/")) && !u.hasQuery() &&
                    !u.hasFragment() && (u.port() == -1 || u.port() > 0);
    if (!ok) {
        // A password written into the URL stays out of the message (status bar, log).
        QUrl shown(url.trimmed());
        if (!shown.password().isEmpty())
            shown.setPassword(QStringLiteral("***"));
        error = LookupText(texts, Msg::n710) +
                (shown.isValid() ? shown.toString() : url.section(u'@', -1));
        return false;
    }
    out.host = u.host();
    out.tls = tls;
    out.port = u.port(tls ? 8883 : 1883);
    return true;
}

bool ReadPasswordFile(const QString &path, QString &password, const MemIniFile &texts,
                      QString &error)
{
    QFile f(path);
#ifndef Q_OS_WIN
    struct stat st {};
    if (::stat(QFile::encodeName(path).constData(), &st) == 0 && S_ISREG(st.st_mode) &&
        (st.st_mode & (S_IRWXG | S_IRWXO)) != 0) {
        error = LookupText(texts, Msg::n712) + path;
        return false;
    }
#endif
    if (!f.open(QIODevice::ReadOnly)) {
        error = LookupText(texts, Msg::n711) + path;
        return false;
    }
    QByteArray line = f.readLine(4096);
    while (line.endsWith('\n') || line.endsWith('\r'))
        line.chop(1);
    if (line.isEmpty()) {
        error = LookupText(texts, Msg::n711) + path;
        return false;
    }
    password = QString::fromUtf8(line);
    return true;
}

namespace {
bool PrefixOk(const QString &prefix)
{
    if (prefix.isEmpty())
        return false;
    for (const QString &level : prefix.split(u'/'))
        if (level.isEmpty() || level.contains(u'+') || level.contains(u'#'))
            return false;
    for (QChar c : prefix)
        if (c.unicode() < 0x20 || c.unicode() == 0x7f)
            return false;
    return true;
}
} // namespace

bool CheckMqttSettings(const MqttSettings &s, const MemIniFile &texts, QString &error)
{
    MqttEndpoint endpoint;
    if (!ParseMqttUrl(s.url, endpoint, texts, error))
        return false;
    if (s.qos < 0 || s.qos > 2) {
        error = LookupText(texts, Msg::n721) + QString::number(s.qos);
        return false;
    }
    if (!PrefixOk(s.prefix)) {
        error = LookupText(texts, Msg::n720) + s.prefix;
        return false;
    }
    if (s.discovery && !PrefixOk(s.discoveryPrefix)) {
        error = LookupText(texts, Msg::n720) + s.discoveryPrefix;
        return false;
    }
    // Without a CA file, mqtts checks against the system's certificates.
    if (endpoint.tls && !s.caFile.isEmpty() && !QFileInfo(s.caFile).isFile()) {
        error = LookupText(texts, Msg::n713) + s.caFile;
        return false;
    }
    if (!s.user.isEmpty() && s.passwordFile.isEmpty()) {
        error = LookupText(texts, Msg::n719);
        return false;
    }
    if (!s.passwordFile.isEmpty()) {
        QString password;
        if (!ReadPasswordFile(s.passwordFile, password, texts, error))
            return false;
    }
    return true;
}

QString MqttTopicLevel(const QString &name)
{
    if (name.isEmpty())
        return QStringLiteral("_");
    QString out = name;
    for (QChar &c : out)
        if (c == u'/' || c == u'+' || c == u'#' || c.unicode() < 0x20 || c.unicode() == 0x7f)
            c = u'_';
    return out;
}

QString MqttAddressLevel(int address)
{
    return QStringLiteral("addr%1").arg(address);
}
