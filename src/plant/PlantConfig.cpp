#include "PlantConfig.h"

#include "AtomicFile.h"
#include "Cp1251.h"
#include "IntText.h"
#include "MemIniFile.h"
#include "PlantTexts.h"
#include "SerialLink.h"
#include "TcpTransport.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

namespace {

const QString kConnect = QStringLiteral("connect");
const QByteArray kUtf8Mark("\xEF\xBB\xBF");

bool IsNetworkPort(const QString &port)
{
    return port.startsWith(QLatin1String("tcp://"), Qt::CaseInsensitive) ||
           port.startsWith(QLatin1String("mbtcp://"), Qt::CaseInsensitive);
}

// A port the link can at least try: COMn, an absolute device path, tcp:// or mbtcp://
// HOST:PORT. A device path need not exist now (an adapter may be plugged in later).
bool PortUsable(const QString &port)
{
    if (IsNetworkPort(port)) {
        QString host;
        quint16 p = 0;
        return TcpTransport::ParseAddress(port, &host, &p);
    }
    if (port.startsWith(QLatin1String("COM"), Qt::CaseInsensitive)) {
        bool ok = false;
        const int n = port.mid(3).toInt(&ok);
        return ok && n >= 1 && n <= 256;
    }
    return QDir::isAbsolutePath(port) && !port.endsWith(u'/');
}

// Section names in the file's order, repeated ones included (MemIniFile merges them),
// read as MemIniFile reads them.
QStringList SectionHeaders(const QByteArray &bytes)
{
    const bool utf8 = bytes.startsWith(kUtf8Mark);
    const QString text =
        utf8 ? QString::fromUtf8(bytes.mid(kUtf8Mark.size())) : Cp1251::decode(bytes);
    QStringList names;
    for (const QString &line : text.split(u'\n')) {
        const QStringView t = QStringView(line).trimmed();
        if (t.startsWith(u'[') && t.endsWith(u']'))
            names << t.mid(1, t.size() - 2).trimmed().toString();
    }
    return names;
}

QString Fault(const MemIniFile &ini, const TextKey &key, const QString &rest)
{
    return LookupText(ini, key) + rest;
}

} // namespace

PlantLine LineOf(const PlantEntry &e, const MemIniFile &startIni)
{
    // The defaults are the link's own when start.ini lacks the key.
    PlantLine l;
    l.speed = e.speed.value_or(startIni.readInteger(kConnect, QStringLiteral("speed"), 0));
    l.parity = e.parity.value_or(startIni.readInteger(kConnect, QStringLiteral("parity"), 0));
    l.stopbits = e.stopbits.value_or(startIni.readInteger(kConnect, QStringLiteral("stopbits"), 1));
    return l;
}

QString BusKey(const QString &port)
{
    const QString p = port.trimmed();
    if (IsNetworkPort(p)) {
        QString host;
        quint16 number = 0;
        if (!TcpTransport::ParseAddress(p, &host, &number))
            return p.toLower();
        const QString scheme = p.section(QLatin1String("://"), 0, 0).toLower();
        return scheme + QLatin1String("://") + host.toLower() + u':' + QString::number(number);
    }
    QString path = SerialLink::PortPathFromSetting(p);
#ifdef Q_OS_WIN
    path = path.toUpper();
#else
    // A pty link and the device it names are one line.
    const QString canonical = QFileInfo(path).canonicalFilePath();
    if (!canonical.isEmpty())
        path = canonical;
#endif
    return path;
}

QString CheckPlant(const PlantConfig &plant, const MemIniFile &startIni, const QString &workFolder)
{
    const auto &list = plant.controllers;
    for (size_t i = 0; i < list.size(); ++i) {
        const PlantEntry &e = list[i];
        if (e.name.trimmed().isEmpty())
            return Fault(startIni, Msg::n641, QString::number(i + 1) + u')');
        if (e.name.contains(u'\n') || e.name.contains(u'\r'))
            return Fault(startIni, Msg::n657, e.name.simplified());
        for (size_t j = 0; j < i; ++j)
            if (list[j].name.trimmed().compare(e.name.trimmed(), Qt::CaseInsensitive) == 0)
                return Fault(startIni, Msg::n642, e.name);
        if (e.port.trimmed().isEmpty())
            return Fault(startIni, Msg::n643, e.name);
        if (!PortUsable(e.port.trimmed()))
            return Fault(startIni, Msg::n644, e.name + QStringLiteral(": ") + e.port);
        if (e.address < 1 || e.address > 247)
            return Fault(startIni, Msg::n645, e.name) + LookupText(startIni, Msg::n646) +
                   QString::number(e.address);
        struct Item {
            const char *key;
            const std::optional<int> &value;
            int items;
        };
        const Item items[] = {{"speed", e.speed, 5}, {"parity", e.parity, 3}, {"stopbits", e.stopbits, 2}};
        for (const Item &it : items)
            if (it.value && (*it.value < 0 || *it.value >= it.items))
                return Fault(startIni, Msg::n655,
                             e.name + QStringLiteral(": ") + QLatin1String(it.key) + u'=' +
                                 QString::number(*it.value));
        if (!e.cfg.isEmpty() && !QFileInfo(QDir(workFolder).filePath(e.cfg)).isFile())
            return Fault(startIni, Msg::n649,
                         e.name + QStringLiteral(": ") + QDir::toNativeSeparators(e.cfg));
    }
    for (size_t i = 0; i < list.size(); ++i) {
        const QString bus = BusKey(list[i].port);
        for (size_t j = 0; j < i; ++j) {
            if (BusKey(list[j].port) != bus)
                continue;
            const QString names = list[j].name + QStringLiteral(", ") + list[i].name;
            if (list[j].address == list[i].address)
                return Fault(startIni, Msg::n647,
                             list[i].port.trimmed() + QStringLiteral(", ") +
                                 QString::number(list[i].address) + QStringLiteral(": ") + names);
            // A connection carries no line settings: only a serial line must agree.
            if (!IsNetworkPort(list[i].port.trimmed()) &&
                LineOf(list[j], startIni) != LineOf(list[i], startIni))
                return Fault(startIni, Msg::n648, list[i].port.trimmed() + QStringLiteral(": ") + names);
        }
    }
    return {};
}

bool ReadPlant(const QString &path, const MemIniFile &startIni, const QString &workFolder,
               PlantConfig &out, QString &error)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) {
        error = Fault(startIni, Msg::n640,
                      QDir::toNativeSeparators(path) + QStringLiteral(": ") + file.errorString());
        return false;
    }
    const QByteArray bytes = file.readAll();
    MemIniFile ini(path);
    ini.setBytes(bytes);
    const QStringList headers = SectionHeaders(bytes);
    PlantConfig plant;
    for (int i = 0; i < headers.size(); ++i) {
        const QString &name = headers[i];
        for (int j = 0; j < i; ++j)
            if (headers[j].compare(name, Qt::CaseInsensitive) == 0) {
                error = Fault(startIni, Msg::n642, name);
                return false;
            }
        PlantEntry e;
        e.name = name;
        e.port = ini.readString(name, QStringLiteral("port"), {}).trimmed();
        e.cfg = ini.readString(name, QStringLiteral("cfg"), {}).trimmed();
        auto number = [&](const char *key, bool required) -> std::optional<std::optional<int>> {
            const QString k = QLatin1String(key);
            if (!ini.valueExists(name, k) && !required)
                return std::optional<int>();
            const QString text = ini.readString(name, k, {});
            const std::optional<int> v = ParseIntText(text);
            if (!v) {
                error = Fault(startIni, Msg::n650, name + QStringLiteral(": ") + k + u'=' + text.trimmed());
                return std::nullopt;
            }
            return v;
        };
        const auto adr = number("adr", true);
        if (!adr)
            return false;
        e.address = **adr;
        for (auto [key, field] : {std::pair{"speed", &e.speed}, std::pair{"parity", &e.parity},
                                  std::pair{"stopbits", &e.stopbits}}) {
            const auto v = number(key, false);
            if (!v)
                return false;
            *field = *v;
        }
        plant.controllers.push_back(e);
    }
    const QString fault = CheckPlant(plant, startIni, workFolder);
    if (!fault.isEmpty()) {
        error = fault;
        return false;
    }
    out = plant;
    return true;
}

bool WritePlant(const QString &path, const PlantConfig &plant, QString &error)
{
    return WritePlant(path, plant, error, nullptr);
}

bool WritePlant(const QString &path, const PlantConfig &plant, QString &error,
                const MemIniFile *startIni)
{
    QString text;
    const QString eol = QStringLiteral("\r\n");
    for (const PlantEntry &e : plant.controllers) {
        if (!text.isEmpty())
            text += eol;
        text += u'[' + e.name + u']' + eol;
        text += QStringLiteral("port=") + e.port + eol;
        text += QStringLiteral("adr=") + QString::number(e.address) + eol;
        if (e.speed)
            text += QStringLiteral("speed=") + QString::number(*e.speed) + eol;
        if (e.parity)
            text += QStringLiteral("parity=") + QString::number(*e.parity) + eol;
        if (e.stopbits)
            text += QStringLiteral("stopbits=") + QString::number(*e.stopbits) + eol;
        if (!e.cfg.isEmpty())
            text += QStringLiteral("cfg=") + e.cfg + eol;
    }
    bool lossless = true;
    QByteArray bytes = Cp1251::encode(text, &lossless);
    if (!lossless)
        bytes = kUtf8Mark + text.toUtf8(); // a name Windows-1251 cannot hold
    QString reason;
    if (!WriteFileAtomically(path, bytes, &reason)) {
        const QString head = startIni ? LookupText(*startIni, Msg::n651)
                                      : QString::fromUtf16(Msg::n651.russian);
        error = head + QDir::toNativeSeparators(path) + QStringLiteral(": ") + reason;
        return false;
    }
    return true;
}
