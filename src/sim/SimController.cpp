#include "SimController.h"

#include "Cp1251.h"

#include <algorithm>
#include <cmath>

namespace {

constexpr int kBauds[] = {9600, 19200, 38400, 57600, 115200};

// Words of a sensor's settings block and of a relay's, as this firmware uses them.
enum SensorWord { IdHigh, IdLow, Threshold1, Threshold2, Hysteresis, Relay1, Relay2 };
enum RelayWord { Mode, OnDelay, OffDelay, SilenceTimeout };
enum RelayMode { ModeOff = 0, ModeAuto = 1, ModeOn = 2 };

} // namespace

int BaudOfIndex(int index)
{
    return index >= 0 && index < int(std::size(kBauds)) ? kBauds[index] : 0;
}

int IndexOfBaud(int baud)
{
    for (int i = 0; i < int(std::size(kBauds)); ++i)
        if (kBauds[i] == baud)
            return i;
    return -1;
}

bool SimController::configure(const DeviceRegisterMap &map, const Options &options, QString *error)
{
    m_map = map;
    m_options = options;
    const QString problem = RegisterMapProblem(map, options.firmware);
    if (!problem.isEmpty()) {
        *error = problem;
        return false;
    }
    if (map.RELAY_NUMBER > 16) {
        *error = QStringLiteral("RELAY_NUMBER > 16: the relay state is one register");
        return false;
    }
    if (map.CONNECT_SETTINGS_SIZE < 6) {
        *error = QStringLiteral("CONNECT_SETTINGS_SIZE < 6");
        return false;
    }
    if (!buildRegions(error))
        return false;
    m_written.assign(options.namedValues ? 0x10000 : 0, false);
    populate();
    return true;
}

bool SimController::buildRegions(QString *error)
{
    const DeviceRegisterMap &m = m_map;
    m_regions.clear();
    auto add = [&](quint32 start, quint32 size, Block block, int item) {
        if (size > 0)
            m_regions.push_back({start, size, block, item});
    };
    add(kIdentificationAddr, m_options.twoIdRegisters ? 2 : 4, Block::Identification, 0);
    add(m.QOR_TEMPERATURE_ADDR, m.MAX_SENSORS, Block::Temperature, 0);
    add(m.QOR_STATUS_ADDR, m.MAX_SENSORS, Block::Status, 0);
    add(m.QOR_TIMEELAPSED_ADDR, m.MAX_SENSORS, Block::Elapsed, 0);
    add(m.RELAY_STATUS_ADDR, 1, Block::RelayState, 0);
    add(m.CONNECT_SETTINGS_ADDR, m.CONNECT_SETTINGS_SIZE, Block::Connection, 0);
    for (int i = 0; i < m.MAX_SENSORS; ++i)
        add(m.SENSOR_SETTINGS_ADDR + quint32(i) * m.SENSOR_SETTINGS_STEP,
            m.SENSOR_SETTINGS_SIZE_MODBUS, Block::SensorSettings, i);
    for (int i = 0; i < m.RELAY_NUMBER; ++i)
        add(m.RELAY_SETTINGS_ADDR + quint32(i) * m.RELAY_SETTINGS_STEP, m.RELAY_SETTINGS_SIZE,
            Block::RelaySettings, i);
    if (m_options.firmware >= kFirstTagFirmware)
        for (int i = 0; i < m.MAX_SENSORS; ++i)
            add(m.QOR_SENSOR_TAG_ADDR + quint32(i) * m.QOR_SENSOR_TAG_STEP, m.QOR_SENSOR_TAG_SIZE,
                Block::Tag, i);
    std::sort(m_regions.begin(), m_regions.end(),
              [](const Region &a, const Region &b) { return a.start < b.start; });
    for (size_t i = 0; i < m_regions.size(); ++i) {
        const Region &r = m_regions[i];
        if (r.start + r.size > 0x10000) {
            *error = QStringLiteral("a block at 0x%1 runs past register 0xFFFF")
                         .arg(r.start, 4, 16, QLatin1Char('0'));
            return false;
        }
        if (i > 0 && m_regions[i - 1].start + m_regions[i - 1].size > r.start) {
            *error = QStringLiteral("blocks at 0x%1 and 0x%2 overlap")
                         .arg(m_regions[i - 1].start, 4, 16, QLatin1Char('0'))
                         .arg(r.start, 4, 16, QLatin1Char('0'));
            return false;
        }
    }
    return true;
}

void SimController::populate()
{
    const DeviceRegisterMap &m = m_map;
    m_rng.seed(m_options.seed);
    m_simMs = 0;
    m_lastRealMs.reset();
    m_connection = QList<quint16>(m.CONNECT_SETTINGS_SIZE, 0);
    const LineSettings &l = m_options.line;
    const quint16 line[] = {l.address, l.baudIndex, l.parity, l.stopBits, l.channel, l.language};
    std::copy(std::begin(line), std::end(line), m_connection.begin());

    std::uniform_real_distribution<double> unit(0.0, 1.0);
    const int registered = std::clamp(m_options.registeredSensors, 0, int(m.MAX_SENSORS));
    m_sensors.assign(m.MAX_SENSORS, Sensor{});
    for (int i = 0; i < m.MAX_SENSORS; ++i) {
        Sensor &s = m_sensors[size_t(i)];
        s.settings = QList<quint16>(m.SENSOR_SETTINGS_SIZE_MODBUS, 0);
        s.tag = QList<quint16>(m.QOR_SENSOR_TAG_SIZE, 0);
        // An empty slot has no ID and no relays, but thresholds a joining sensor can use.
        const quint32 id = i < registered ? quint32(101 + i) * 1000 + quint32(i * 137 % 1000) : 0;
        const quint16 words[] = {quint16(id >> 8), quint16(id & 0xFF), 30, 40, 2,
                                 quint16(i < registered ? 1 + i % 2 : 0),
                                 quint16(i < registered ? 3 : 0)};
        for (int w = 0; w < s.settings.size() && w < int(std::size(words)); ++w)
            s.settings[w] = words[w];
        if (i >= registered)
            continue;
        // Two sensors stand above their thresholds so that a fresh controller shows them.
        s.base = i == 1 ? 33.0 : i == 3 ? 43.0 : 18.0 + 8.0 * unit(m_rng);
        s.temperature = s.base;
        s.intervalMs = 10000 + (i * 7 % 21) * 1000;
        s.lastTxMs = -qint64(unit(m_rng) * s.intervalMs);
        s.nextTxMs = s.lastTxMs + s.intervalMs;
        s.status = SensorStatus::OnAir;
        if (registered >= 8 && i >= registered - 3) {
            // The last three show the states a radio sensor can fall into.
            const quint16 states[] = {SensorStatus::NoPower, SensorStatus::Faulty,
                                      SensorStatus::Undetermined};
            s.status = states[i - (registered - 3)];
            s.pinned = true;
            if (s.status != SensorStatus::Faulty)
                s.lastTxMs = -qint64(600000 + unit(m_rng) * 3000000);
        }
        updateStatus(s);
        setTag(i + 1, Cp1251::encode(QStringLiteral("Камера %1").arg(i + 1)));
    }
    m_relays.assign(m.RELAY_NUMBER, Relay{});
    for (int r = 0; r < m.RELAY_NUMBER; ++r) {
        Relay &relay = m_relays[size_t(r)];
        relay.settings = QList<quint16>(m.RELAY_SETTINGS_SIZE, 0);
        // Relay 1 follows at once, relay 2 with delays, relay 3 also watches for silent
        // sensors, relay 4 is switched off.
        const quint16 defaults[4][4] = {{ModeAuto, 0, 0, 0}, {ModeAuto, 5, 10, 0},
                                        {ModeAuto, 0, 0, 300}, {ModeOff, 0, 0, 0}};
        for (int w = 0; w < relay.settings.size() && w < 4; ++w)
            relay.settings[w] = defaults[r % 4][w];
    }
    updateRelays();
}

const SimController::Region *SimController::regionOf(quint32 reg) const
{
    auto it = std::upper_bound(m_regions.begin(), m_regions.end(), reg,
                               [](quint32 v, const Region &r) { return v < r.start; });
    if (it == m_regions.begin())
        return nullptr;
    --it;
    return reg < it->start + it->size ? &*it : nullptr;
}

quint16 SimController::setting(const QList<quint16> &words, int index)
{
    return index < words.size() ? words[index] : 0;
}

quint16 SimController::elapsedSeconds(const Sensor &s) const
{
    if (!registered(s))
        return 0;
    return quint16(std::clamp<qint64>((m_simMs - s.lastTxMs) / 1000, 0, 0xFFFF));
}

bool SimController::wordOf(quint32 reg, quint16 &value) const
{
    const Region *r = regionOf(reg);
    if (!r)
        return false;
    if (m_options.namedValues && r->block != Block::Identification && !m_written[reg]) {
        value = quint16(reg + m_options.namedOffset);
        return true;
    }
    const int offset = int(reg - r->start);
    switch (r->block) {
    case Block::Identification: {
        const quint16 id[] = {m_options.deviceCode, m_options.firmware, 0, m_options.hardware};
        value = id[offset];
        break;
    }
    case Block::Temperature: {
        const Sensor &s = m_sensors[size_t(offset)];
        value = registered(s)
                    ? quint16(std::clamp(std::lround(s.temperature), 0L, 0xFFFFL))
                    : 0;
        break;
    }
    case Block::Status:
        value = m_sensors[size_t(offset)].status;
        break;
    case Block::Elapsed:
        value = elapsedSeconds(m_sensors[size_t(offset)]);
        break;
    case Block::RelayState:
        value = relayWord();
        break;
    case Block::Connection:
        value = m_connection[offset];
        break;
    case Block::SensorSettings:
        value = m_sensors[size_t(r->item)].settings[offset];
        break;
    case Block::RelaySettings:
        value = m_relays[size_t(r->item)].settings[offset];
        break;
    case Block::Tag:
        value = m_sensors[size_t(r->item)].tag[offset];
        break;
    }
    return true;
}

quint8 SimController::read(quint16 start, quint16 count, QList<quint16> &out) const
{
    out.clear();
    if (count < 1 || count > kMaxRegistersPerRead)
        return ModbusException::IllegalAddress;
    out.reserve(count);
    for (quint32 reg = start; reg < quint32(start) + count; ++reg) {
        quint16 v = 0;
        if (!wordOf(reg, v)) {
            out.clear();
            return ModbusException::IllegalAddress;
        }
        out.append(v);
    }
    return ModbusException::None;
}

bool SimController::validConnectionWord(int index, quint16 v)
{
    switch (index) {
    case 0: return v >= 1 && v <= 247;
    case 1: return v <= 4;
    case 2: return v <= 2;
    case 3: return v == 1 || v == 2;
    case 4: return v >= 1 && v <= 126;
    case 5: return v <= 1;
    default: return true; // reserved words are stored as they come
    }
}

quint8 SimController::write(quint16 start, const QList<quint16> &values, bool *touchesConnection)
{
    if (touchesConnection)
        *touchesConnection = false;
    if (values.isEmpty() || quint32(start) + quint32(values.size()) > 0x10000)
        return ModbusException::IllegalAddress;
    // Check everything first: a refused write leaves the controller as it was.
    bool connection = false;
    for (int i = 0; i < values.size(); ++i) {
        const Region *r = regionOf(quint32(start) + quint32(i));
        if (!r || r->block < Block::Connection)
            return ModbusException::IllegalAddress;
        if (r->block == Block::Connection) {
            connection = true;
            if (!validConnectionWord(int(start + i - r->start), values[i]))
                return ModbusException::IllegalValue;
        }
    }
    for (int i = 0; i < values.size(); ++i) {
        const quint32 reg = quint32(start) + quint32(i);
        const Region *r = regionOf(reg);
        const int offset = int(reg - r->start);
        if (m_options.namedValues)
            m_written[reg] = true;
        switch (r->block) {
        case Block::Connection: m_connection[offset] = values[i]; break;
        case Block::SensorSettings: m_sensors[size_t(r->item)].settings[offset] = values[i]; break;
        case Block::RelaySettings: m_relays[size_t(r->item)].settings[offset] = values[i]; break;
        case Block::Tag: m_sensors[size_t(r->item)].tag[offset] = values[i]; break;
        default: break;
        }
    }
    for (Sensor &s : m_sensors)
        updateStatus(s);
    updateRelays();
    if (touchesConnection)
        *touchesConnection = connection;
    return ModbusException::None;
}

LineSettings SimController::line() const
{
    return {m_connection[0], m_connection[1], m_connection[2],
            m_connection[3], m_connection[4], m_connection[5]};
}

void SimController::setAddress(quint16 address) { m_connection[0] = address; }

void SimController::advance(qint64 realMs)
{
    const qint64 step = m_lastRealMs ? realMs - *m_lastRealMs : 0;
    m_lastRealMs = realMs;
    if (m_frozen || step <= 0)
        return;
    m_simMs += step;
    for (Sensor &s : m_sensors) {
        const bool silent = !registered(s) || s.status == SensorStatus::NoPower ||
                            s.status == SensorStatus::Undetermined;
        if (silent) {
            s.nextTxMs = m_simMs + s.intervalMs;
            continue;
        }
        while (s.nextTxMs <= m_simMs) {
            s.lastTxMs = s.nextTxMs;
            s.nextTxMs += s.intervalMs;
            transmit(s);
        }
    }
    updateRelays();
}

void SimController::transmit(Sensor &s)
{
    if (s.status == SensorStatus::Faulty)
        return; // it still answers, but its probe reading is worthless and stays put
    std::normal_distribution<double> noise(0.0, 0.4);
    s.temperature += noise(m_rng) + 0.1 * (s.base - s.temperature);
    updateStatus(s);
}

void SimController::updateStatus(Sensor &s)
{
    if (s.pinned || !registered(s))
        return;
    const double t = s.temperature;
    const double th1 = setting(s.settings, Threshold1);
    const double th2 = setting(s.settings, Threshold2);
    const double hyst = setting(s.settings, Hysteresis);
    int level = t >= th2 ? 2 : t >= th1 ? 1 : 0;
    // A state is left only when the temperature has fallen by the hysteresis.
    if (s.status == SensorStatus::Threshold2 && t > th2 - hyst)
        level = 2;
    else if (s.status >= SensorStatus::Threshold1 && s.status <= SensorStatus::Threshold2 &&
             t > th1 - hyst)
        level = std::max(level, 1);
    s.status = quint16(level);
}

void SimController::updateRelays()
{
    for (int r = 0; r < int(m_relays.size()); ++r) {
        Relay &relay = m_relays[size_t(r)];
        const quint16 mode = setting(relay.settings, Mode);
        const quint16 timeout = setting(relay.settings, SilenceTimeout);
        bool demand = mode == ModeOn;
        if (mode == ModeAuto) {
            for (const Sensor &s : m_sensors) {
                if (!registered(s))
                    continue;
                const bool first = setting(s.settings, Relay1) == r + 1;
                const bool second = setting(s.settings, Relay2) == r + 1;
                if ((first && (s.status == SensorStatus::Threshold1 ||
                               s.status == SensorStatus::Threshold2)) ||
                    (second && s.status == SensorStatus::Threshold2) ||
                    ((first || second) && timeout > 0 && elapsedSeconds(s) > timeout))
                    demand = true;
            }
        }
        if (demand != relay.demand) {
            relay.demand = demand;
            relay.demandSinceMs = m_simMs;
        }
        const qint64 delayMs = 1000 * qint64(setting(relay.settings, demand ? OnDelay : OffDelay));
        if (relay.on != demand && m_simMs - relay.demandSinceMs >= delayMs)
            relay.on = demand;
    }
}

quint16 SimController::relayWord() const
{
    quint16 w = 0;
    for (size_t r = 0; r < m_relays.size(); ++r)
        if (m_relays[r].forced.value_or(m_relays[r].on))
            w |= quint16(1u << r);
    return w;
}

quint16 SimController::status(int sensor) const
{
    return sensor >= 1 && sensor <= int(m_sensors.size()) ? m_sensors[size_t(sensor - 1)].status
                                                          : SensorStatus::NotRegistered;
}

bool SimController::setTemperature(int sensor, int value)
{
    if (sensor < 1 || sensor > int(m_sensors.size()) || value < 0 || value > 0xFFFF)
        return false;
    Sensor &s = m_sensors[size_t(sensor - 1)];
    s.temperature = s.base = value;
    updateStatus(s);
    updateRelays();
    return true;
}

bool SimController::setStatus(int sensor, std::optional<quint16> pinned)
{
    if (sensor < 1 || sensor > int(m_sensors.size()))
        return false;
    Sensor &s = m_sensors[size_t(sensor - 1)];
    if (!registered(s) && pinned != SensorStatus::NotRegistered) {
        // A sensor that joins has just been heard, at room temperature unless set.
        s.lastTxMs = m_simMs;
        s.nextTxMs = m_simMs + s.intervalMs;
        if (s.temperature == 0)
            s.temperature = s.base = 20;
    }
    s.pinned = pinned.has_value();
    s.status = pinned.value_or(SensorStatus::OnAir);
    updateStatus(s);
    updateRelays();
    return true;
}

bool SimController::setElapsed(int sensor, int seconds)
{
    if (sensor < 1 || sensor > int(m_sensors.size()) || seconds < 0 || seconds > 0xFFFF)
        return false;
    Sensor &s = m_sensors[size_t(sensor - 1)];
    s.lastTxMs = m_simMs - 1000 * qint64(seconds);
    s.nextTxMs = m_simMs + s.intervalMs;
    updateRelays();
    return true;
}

bool SimController::setRelay(int relay, std::optional<bool> forced)
{
    if (relay < 1 || relay > int(m_relays.size()))
        return false;
    m_relays[size_t(relay - 1)].forced = forced;
    return true;
}

bool SimController::setTag(int sensor, const QByteArray &cp1251)
{
    if (sensor < 1 || sensor > int(m_sensors.size()))
        return false;
    QList<quint16> &tag = m_sensors[size_t(sensor - 1)].tag;
    for (int k = 0; k < tag.size(); ++k) {
        const auto byte = [&](int i) { return i < cp1251.size() ? quint8(cp1251[i]) : 0; };
        tag[k] = quint16(byte(2 * k) << 8 | byte(2 * k + 1));
    }
    return true;
}
