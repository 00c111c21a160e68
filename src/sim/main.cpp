// qor7070-sim: a Modbus RTU slave that behaves like a QOR7070 temperature controller.
#include "IntText.h"
#include "MemIniFile.h"
#include "ShippedData.h"
#include "Simulator.h"

#include <QDir>
#include <QFileInfo>
#include <cstdio>

namespace {

const char kHelp[] =
    R"(Usage: qor7070-sim (--pty [--link PATH] | --device PATH | --tcp HOST:PORT) [options]

A Modbus RTU slave that behaves like a QOR7070 temperature controller (or several on one
line, each at its own address): identification
registers at 0x0400, sensors whose temperatures drift and whose statuses follow their
thresholds, relays driven by the sensors, and readable and writable sensor settings, tags,
relay settings and connection block (functions 3, 6 and 16; exception 1 for any other
function, exception 2 for a register outside the map or a bad count, exception 3 for a
connection-block value the controller cannot take).

Line:
  --pty               create a pseudo-terminal pair; the first line on stdout is
                      "PTY <path>", the path the program opens
  --link PATH         with --pty: also make PATH a symlink to it (removed at exit)
  --device PATH       serve an existing serial device instead (first line "DEVICE <path>")
  --tcp HOST:PORT     listen on TCP instead, one master at a time (a second connection
                      is closed at once); port 0 picks a free port. The first line is
                      "TCP <host>:<port>"; the program's port setting is then
                      tcp://<host>:<port> or mbtcp://<host>:<port>
  --framing F         on TCP: rtu (the frames of the line, as a serial device server
                      carries them; default) or mbtcp (Modbus TCP: MBAP header, unit id
                      = address, no CRC, the answer echoes the transaction id). The log's
                      RX and TX lines hold RTU frames either way; with mbtcp each is
                      preceded by an MBAPRX or MBAPTX line with the bytes on the connection
  --address N         slave address, 1..247 (default 100); repeated, one controller for
                      each (--address 100 --address 105)
  --controllers N     N controllers at consecutive addresses from the (single) --address
  --baud N            9600, 19200, 38400, 57600 or 115200 (default 9600)
  --parity P          none, even or odd (default none)
  --stopbits N        1 or 2 (default 1)
  --channel N         [list] radio channel shown in the connection block, 1..126
                      (default 1)
  --pace              send at the byte rate of the baud (11 bits a character) and answer
                      3.5 characters after the request has left the wire; without it the
                      answer goes out at once
  On TCP the line settings are recorded only (and --baud still paces).
  The connection block (words: address, baud index 0..4, parity 0..2, stop bits 1..2,
  channel, menu language 0..1) starts with these values. After a write to it has been
  confirmed the slave answers at the new address and paces at the new baud; on a pty
  parity and stop bits are recorded only.

Several controllers (--address repeated or --controllers N) share the port: each answers
the requests to its address, requests to an address nobody has are ignored (IGNORED
address), a broadcast write is carried out by each controller that is on. Each controller
has its own sensors, settings, time and faults. A confirmed connection-block write moves
only the controller that took it: it answers at its new address and paces at its new
baud while the others stay as they are; the port itself (termios on a device) takes the
settings of the last such write. A controller moved to an address another one already
has is not refused (a real one could not know); of two at one address the first given
answers. Options marked [list] take one value for every controller or a comma-separated
list with one value per controller in order (--sensors 12,36,8 --fw 1.2,1.1,1.2).

Controller:
  --cfg FILE          device-configuration file with the register map ([modbus]); default
                      Cfg/qor7070__fw_<fw>.ini under the working directory, else the one
                      shipped with the program (for each controller by its firmware)
  --device-code N     [list] identification register 0x0400 (default 3126, a QOR7070)
  --fw 0xMMmm         [list] firmware word, also "M.m" (default the cfg's [hardware] fw);
                      tags are served from 1.2 on
  --hw 0xMMmm         [list] hardware word (default 0x0100)
  --two-id-registers  answer only 0x0400..0x0401, like firmware 1.0; a read of four
                      identification registers gets exception 2
  --named-values      every register except the identification (0x0400..) reads as
                      its own address (register 0x0141 holds 0x0141) until a master
                      writes it; sensors and relays still live underneath. For telling
                      which register a shown value came from. With several controllers
                      the K-th (counting from 0 in the order given) reads register R as
                      R + K * 0x1000 (modulo 0x10000): the first still reads R, the second
                      R + 0x1000, so a value names its controller as well
  --sensors N         [list] registered sensors (default 12); the others report status 40.
                      With 8 or more, the last three report 10, 20 and 30
  --seed N            [list] seed of the drift and of fault rates (default 1); a single
                      seed S gives the K-th controller S + K

Faults:
  --fault KIND[:RULE] switch a fault on from the start (repeatable). KIND is one of
      noanswer   no answer; the request is not carried out
      badcrc     the answer's CRC is damaged (Modbus TCP has none: its protocol id is
                 damaged instead)
      badtid     Modbus TCP only: the answer carries a transaction id never sent
      wrongaddr  the answer comes from the next address
      exception  an exception answer (code=N, default 4); not carried out
      truncated  only the first bytes of the answer (bytes=N, default half)
      noise      random bytes before the answer (bytes=N, default 3)
      late       the answer after a delay (ms=N, default 1500)
      offline    silent for a period from this request on (ms=N, default 3000)
      lost       the request is carried out but its answer never leaves (a connection
                 block write still moves the slave to its new line settings)
    RULE is a comma-separated list: rate=P (probability per request, seeded), nth=N
    (only the N-th request after switching on), every=N (every N-th request), and the
    kind's parameter. Without rate/nth/every every request is struck. Requests count
    when addressed to the slave with a good CRC while it is online. Except for noanswer
    and exception, a struck request is carried out and only its answer is damaged.
    --fault switches the fault on for every controller, each counting its own requests.

Log and control:
  --log FILE          traffic log, "-" for stderr; one line per event, flushed:
                        <ms since start, 3 decimals> RX|TX <hex bytes>
                        <ms> IGNORED badcrc|truncated|garbage|address|broadcast
                        <ms> FAULT <kind> [parameter]
                        <ms> CMD <command>   <ms> NOTE <text>   <ms> START ...   <ms> STOP
                      with several controllers FAULT lines and the notes of one controller
                      end in "@<address>" (FAULT late 1500 @101), and a NOTE "controller
                      K address A fw ..." follows START for each
                      every received byte is in exactly one RX line: a request, or bytes
                      that were ignored (followed by their IGNORED line)
  --quiet             no notes on stderr
  --quit-on-eof       end when standard input closes (otherwise keep serving)
  --help              this text
  --version           the simulator's version

Commands on standard input, one a line; each is answered by one line on stdout that
starts with OK or ERR. A command may start with "@ADDR " to go to the controller at that
address (@101 offline, @102 set status 3 10); without it, it goes to the first controller
given. quit, stats, controllers, drop, refuse and listen are the port's:
  offline [MS]                 stop answering (for MS ms, else until "online")
  online                       answer again
  fault KIND [RULE]            switch a fault on (as --fault; "fault badcrc nth=2")
  fault off KIND               switch one fault off
  faults                       list the faults that are on;  faults off: all off
  set temp S V                 temperature of sensor S (1-based), whole degrees 0..65535
  set status S CODE|auto       pin the status code of sensor S (40 unregisters it, any
                               other code registers it); auto: thresholds decide again
  set elapsed S SEC            seconds since sensor S last transmitted
  set relay R 0|1|auto         force relay R off or on, or let its settings decide
  set tag S TEXT               tag of sensor S (Windows-1251 characters only)
  set reg REG V...             write registers as functions 6/16 would (0x hex allowed)
  get REG [COUNT]              read registers: "OK v1 v2 ..." in decimal, or
                               "ERR exception N"
  freeze / unfreeze            stop / restart time: temperatures, elapsed seconds and
                               relay delays stand still
  address N                    move to slave address N at once
  drop                         (TCP) close the master's connection
  refuse [MS]                  (TCP) close it and refuse connections (for MS ms, else
                               until "listen")
  listen                       (TCP) take connections again
  line                         the line settings in use
  controllers                  the controllers' addresses in the order given
  stats                        requests, answers, ignored frames, faults, and the
                               longest and mean time from a complete request to its
                               answer handed to the line (unpaced answers, in us)
  quit                         end
)";

[[noreturn]] void fail(const QString &message)
{
    fprintf(stderr, "qor7070-sim: %s\n", message.toLocal8Bit().constData());
    exit(2);
}

std::optional<quint16> versionWord(const QString &text)
{
    const QStringList parts = text.trimmed().split(QLatin1Char('.'));
    if (parts.size() == 2) {
        bool okMajor = false, okMinor = false;
        const int major = parts[0].toInt(&okMajor), minor = parts[1].toInt(&okMinor);
        if (okMajor && okMinor && major >= 0 && major < 256 && minor >= 0 && minor < 256)
            return quint16(major << 8 | minor);
        return std::nullopt;
    }
    const auto v = ParseIntText(text);
    return v && *v >= 0 && *v <= 0xFFFF ? std::optional<quint16>(quint16(*v)) : std::nullopt;
}

int intOption(const QString &name, const QString &text, int low, int high)
{
    const auto v = ParseIntText(text);
    if (!v || *v < low || *v > high)
        fail(QStringLiteral("%1 wants a number from %2 to %3, not '%4'").arg(name).arg(low).arg(high).arg(text));
    return *v;
}

QString defaultCfg(std::optional<quint16> fw)
{
    const quint16 firmware = fw.value_or(0x0102);
    const QString local = DeviceConfigPath(QDir::currentPath(), firmware);
    if (QFileInfo::exists(local))
        return local;
    return DeviceConfigPath(ShippedDataDir(), firmware);
}

void loadMap(SimUnitConfig &c, std::optional<quint16> fw, bool quiet)
{
    if (!QFileInfo::exists(c.cfgPath))
        fail(c.cfgPath + QStringLiteral(": no such file"));
    const MemIniFile ini(c.cfgPath);
    const QString fwText = ini.readString(QStringLiteral("hardware"), QStringLiteral("fw"), {});
    const auto cfgFw = versionWord(fwText);
    if (!fw && !cfgFw)
        fail(c.cfgPath + QStringLiteral(": [hardware] fw is not a version; give --fw"));
    c.controller.firmware = fw.value_or(cfgFw.value_or(0));
    if (!quiet && cfgFw && *cfgFw != c.controller.firmware)
        fprintf(stderr, "qor7070-sim: note: firmware %s served with the map of %s\n",
                qPrintable(VersionText(c.controller.firmware)), qPrintable(fwText));
    if (ParseRegisterMap(ini, c.map, c.controller.firmware))
        return;
    // A map written for firmware before 1.2 has no tags; serve it without them.
    if (c.controller.firmware >= kFirstTagFirmware && ParseRegisterMap(ini, c.map, 0x0101)) {
        c.map.QOR_SENSOR_TAG_SIZE = 0;
        return;
    }
    fail(c.cfgPath + QStringLiteral(": [modbus] is incomplete or malformed"));
}

} // namespace

// The values of an option that may name one value per controller ("12,36,8"); one value
// goes to every controller.
QStringList perController(const QString &name, const QString &text, int controllers)
{
    const QStringList values = text.split(u',');
    if (values.size() != 1 && values.size() != controllers)
        fail(QStringLiteral("%1 has %2 values for %3 controllers").arg(name).arg(values.size()).arg(controllers));
    QStringList out;
    for (int i = 0; i < controllers; ++i)
        out << values.value(values.size() == 1 ? 0 : i).trimmed();
    return out;
}

int main(int argc, char **argv)
{
    SimConfig c;
    SimController::Options options; // what every controller shares
    QString cfg;
    QList<int> addresses;
    std::optional<int> controllers;
    QString fwText, hwText, deviceCodeText, sensorsText, seedText, channelText;
    bool framingGiven = false;
    for (int i = 1; i < argc; ++i) {
        const QString arg = QString::fromLocal8Bit(argv[i]);
        const auto value = [&]() -> QString {
            if (i + 1 >= argc)
                fail(arg + QStringLiteral(" wants a value"));
            return QString::fromLocal8Bit(argv[++i]);
        };
        if (arg == QLatin1String("--help") || arg == QLatin1String("-h")) {
            fputs(kHelp, stdout);
            return 0;
        } else if (arg == QLatin1String("--version")) {
            printf("qor7070-sim %s\n", VELMARIS_VERSION);
            return 0;
        } else if (arg == QLatin1String("--pty")) {
            c.pty = true;
        } else if (arg == QLatin1String("--link")) {
            c.linkPath = value();
        } else if (arg == QLatin1String("--device")) {
            c.devicePath = value();
        } else if (arg == QLatin1String("--tcp")) {
            c.tcp = value();
        } else if (arg == QLatin1String("--framing")) {
            const QString f = value().toLower();
            if (f != QLatin1String("rtu") && f != QLatin1String("mbtcp"))
                fail(QStringLiteral("--framing wants rtu or mbtcp"));
            c.mbap = f == QLatin1String("mbtcp");
            framingGiven = true;
        } else if (arg == QLatin1String("--cfg")) {
            cfg = value();
        } else if (arg == QLatin1String("--device-code")) {
            deviceCodeText = value();
        } else if (arg == QLatin1String("--fw")) {
            fwText = value();
        } else if (arg == QLatin1String("--hw")) {
            hwText = value();
        } else if (arg == QLatin1String("--two-id-registers")) {
            options.twoIdRegisters = true;
        } else if (arg == QLatin1String("--named-values")) {
            options.namedValues = true;
        } else if (arg == QLatin1String("--address")) {
            addresses << intOption(arg, value(), 1, 247);
        } else if (arg == QLatin1String("--controllers")) {
            controllers = intOption(arg, value(), 1, 247);
        } else if (arg == QLatin1String("--baud")) {
            const QString text = value();
            const int index = IndexOfBaud(text.toInt());
            if (index < 0)
                fail(QStringLiteral("--baud wants 9600, 19200, 38400, 57600 or 115200"));
            options.line.baudIndex = quint16(index);
        } else if (arg == QLatin1String("--parity")) {
            const QString p = value().toLower();
            const QStringList names = {QStringLiteral("none"), QStringLiteral("even"), QStringLiteral("odd")};
            if (!names.contains(p))
                fail(QStringLiteral("--parity wants none, even or odd"));
            options.line.parity = quint16(names.indexOf(p));
        } else if (arg == QLatin1String("--stopbits")) {
            options.line.stopBits = quint16(intOption(arg, value(), 1, 2));
        } else if (arg == QLatin1String("--channel")) {
            channelText = value();
        } else if (arg == QLatin1String("--sensors")) {
            sensorsText = value();
        } else if (arg == QLatin1String("--pace")) {
            c.pace = true;
        } else if (arg == QLatin1String("--seed")) {
            seedText = value();
        } else if (arg == QLatin1String("--fault")) {
            c.faults << value();
        } else if (arg == QLatin1String("--log")) {
            c.logPath = value();
        } else if (arg == QLatin1String("--quiet")) {
            c.quiet = true;
        } else if (arg == QLatin1String("--quit-on-eof")) {
            c.quitOnEof = true;
        } else {
            fail(QStringLiteral("unknown option '%1' (see --help)").arg(arg));
        }
    }
    if (int(c.pty) + int(!c.devicePath.isEmpty()) + int(!c.tcp.isEmpty()) != 1)
        fail(QStringLiteral("give one of --pty, --device PATH and --tcp HOST:PORT (see --help)"));
    if (framingGiven && c.tcp.isEmpty())
        fail(QStringLiteral("--framing goes with --tcp"));
    if (!c.linkPath.isEmpty() && !c.pty)
        fail(QStringLiteral("--link goes with --pty"));

    if (addresses.isEmpty())
        addresses << 100;
    if (controllers) {
        if (addresses.size() > 1)
            fail(QStringLiteral("give either --address once with --controllers, or --address for each controller"));
        if (addresses[0] + *controllers - 1 > 247)
            fail(QStringLiteral("--controllers %1 from address %2 goes past 247").arg(*controllers).arg(addresses[0]));
        for (int k = 1; k < *controllers; ++k)
            addresses << addresses[0] + k;
    }
    for (int k = 0; k < addresses.size(); ++k)
        if (addresses.indexOf(addresses[k]) != k)
            fail(QStringLiteral("address %1 given twice").arg(addresses[k]));
    const int count = int(addresses.size());
    const auto listed = [&](const char *name, const QString &text, const QString &fallback) {
        return perController(QLatin1String(name), text.isEmpty() ? fallback : text, count);
    };
    const QStringList fws = fwText.isEmpty() ? QStringList() : listed("--fw", fwText, {});
    const QStringList hws = listed("--hw", hwText, QStringLiteral("0x0100"));
    const QStringList deviceCodes = listed("--device-code", deviceCodeText, QString::number(kQor7070DeviceCode));
    const QStringList sensors = listed("--sensors", sensorsText, QStringLiteral("12"));
    const QStringList seeds = listed("--seed", seedText, QStringLiteral("1"));
    const QStringList channels = listed("--channel", channelText, QStringLiteral("1"));
    const bool oneSeed = !seedText.contains(u',');
    for (int k = 0; k < count; ++k) {
        SimUnitConfig unit;
        unit.controller = options;
        SimController::Options &o = unit.controller;
        o.line.address = quint16(addresses[k]);
        o.line.channel = quint16(intOption(QStringLiteral("--channel"), channels[k], 1, 126));
        o.registeredSensors = intOption(QStringLiteral("--sensors"), sensors[k], 0, kMaxSensors);
        o.deviceCode = quint16(intOption(QStringLiteral("--device-code"), deviceCodes[k], 0, 0xFFFF));
        // One seed: each controller its own, counting on from it.
        const int seed = intOption(QStringLiteral("--seed"), seeds[k], 0, 0x7FFFFFFF);
        o.seed = quint32(oneSeed ? (seed + k) & 0x7FFFFFFF : seed);
        o.namedOffset = quint16(k * kNamedValueStep);
        const auto version = [&](const char *name, const QString &text) {
            const auto v = versionWord(text);
            if (!v)
                fail(QLatin1String(name) + QStringLiteral(" wants 0xMMmm or M.m, not '") + text + u'\'');
            return *v;
        };
        o.hardware = version("--hw", hws[k]);
        std::optional<quint16> fw;
        if (!fws.isEmpty())
            fw = version("--fw", fws[k]);
        unit.cfgPath = cfg.isEmpty() ? defaultCfg(fw) : cfg;
        loadMap(unit, fw, c.quiet);
        c.units.push_back(unit);
    }

    Simulator sim;
    QString error;
    if (!sim.start(c, &error))
        fail(error);
    if (!c.quiet)
        for (const SimUnitConfig &unit : c.units)
            fprintf(stderr, "qor7070-sim: %s serving %s at address %d, map %s\n",
                    qPrintable(c.pty              ? QStringLiteral("pty")
                               : !c.tcp.isEmpty() ? QStringLiteral("TCP ") + c.tcp
                                                  : c.devicePath),
                    qPrintable(VersionText(unit.controller.firmware)),
                    int(unit.controller.line.address), qPrintable(unit.cfgPath));
    return sim.run();
}
