#pragma once
#include "DeviceRegisterMap.h"

#include <QList>
#include <QString>
#include <optional>
#include <random>
#include <vector>

// Modbus exception codes the controller answers with.
namespace ModbusException {
constexpr quint8 None = 0;
constexpr quint8 IllegalFunction = 1;
constexpr quint8 IllegalAddress = 2;
constexpr quint8 IllegalValue = 3;
constexpr quint8 DeviceFailure = 4;
} // namespace ModbusException

// Sensor status codes as the controller reports them.
namespace SensorStatus {
constexpr quint16 OnAir = 0;
constexpr quint16 Threshold1 = 1;
constexpr quint16 Threshold2 = 2;
constexpr quint16 NoPower = 10;
constexpr quint16 Faulty = 20;
constexpr quint16 Undetermined = 30;
constexpr quint16 NotRegistered = 40;
} // namespace SensorStatus

constexpr quint16 kIdentificationAddr = 0x0400;
// With named values, controller k (0-based, in the order given) reads register r as
// r + k * kNamedValueStep (modulo 0x10000): the first reads r itself.
constexpr quint16 kNamedValueStep = 0x1000;
constexpr quint16 kQor7070DeviceCode = 3126;

// Baud rate of a connection-block index (0 = 9600 .. 4 = 115200), 0 for any other index.
int BaudOfIndex(int index);
// Index of a baud rate, -1 when the controller cannot run at it.
int IndexOfBaud(int baud);

// The words of the connection block the controller acts on.
struct LineSettings {
    quint16 address = 100;
    quint16 baudIndex = 0;
    quint16 parity = 0; // 0 none, 1 even, 2 odd
    quint16 stopBits = 1;
    quint16 channel = 1;
    quint16 language = 0;
};

// The controller behind the Modbus slave: its register space and the life of its sensors
// and relays. Time is a simulation clock in ms that stands still while frozen.
class SimController {
public:
    struct Options {
        quint16 deviceCode = kQor7070DeviceCode;
        quint16 firmware = 0x0102;
        quint16 hardware = 0x0100;
        bool twoIdRegisters = false;
        // Every register but the identification reads as its own address until a master
        // writes it, so a value shows which register it came from.
        bool namedValues = false;
        // Added to a named value, so that controllers sharing a line read differently.
        quint16 namedOffset = 0;
        int registeredSensors = 12;
        quint32 seed = 1;
        LineSettings line;
    };

    // False, with a reason, when the map cannot be served (overlapping or wrapping blocks,
    // more sensors or relays than the controller has).
    bool configure(const DeviceRegisterMap &map, const Options &options, QString *error);

    const DeviceRegisterMap &map() const { return m_map; }
    const Options &options() const { return m_options; }

    // Function 3: an exception code, or None with count words in out.
    quint8 read(quint16 start, quint16 count, QList<quint16> &out) const;
    // Functions 6 and 16: all registers must be writable and the connection block valid,
    // otherwise nothing is stored. *touchesConnection tells whether the block changed.
    quint8 write(quint16 start, const QList<quint16> &values, bool *touchesConnection = nullptr);

    LineSettings line() const;
    void setAddress(quint16 address);

    // Moves the clock to realMs (a monotonic ms count); nothing moves while frozen.
    void advance(qint64 realMs);
    void setFrozen(bool frozen) { m_frozen = frozen; }
    bool frozen() const { return m_frozen; }

    // Sensor and relay numbers count from 1; false when out of range.
    bool setTemperature(int sensor, int value);
    bool setStatus(int sensor, std::optional<quint16> pinned); // nullopt: thresholds decide
    bool setElapsed(int sensor, int seconds);
    bool setRelay(int relay, std::optional<bool> forced);     // nullopt: settings decide
    bool setTag(int sensor, const QByteArray &cp1251);

    quint16 status(int sensor) const;
    quint16 relayWord() const;

private:
    enum class Block { Identification, Temperature, Status, Elapsed, RelayState, Connection,
                       SensorSettings, RelaySettings, Tag };
    struct Region {
        quint32 start;
        quint32 size;
        Block block;
        int item; // sensor or relay index for per-item blocks
    };
    struct Sensor {
        double temperature = 0;
        double base = 0;           // drift pulls back towards it
        quint16 status = SensorStatus::NotRegistered;
        bool pinned = false;       // status set from outside, thresholds ignored
        qint64 lastTxMs = 0;
        qint64 nextTxMs = 0;
        int intervalMs = 10000;
        QList<quint16> settings;
        QList<quint16> tag;
    };
    struct Relay {
        QList<quint16> settings;
        bool on = false;
        std::optional<bool> forced;
        bool demand = false;
        qint64 demandSinceMs = 0;
    };

    bool buildRegions(QString *error);
    const Region *regionOf(quint32 reg) const;
    bool wordOf(quint32 reg, quint16 &value) const;
    static bool validConnectionWord(int index, quint16 value);
    void populate();
    void transmit(Sensor &s);
    void updateStatus(Sensor &s);
    void updateRelays();
    bool registered(const Sensor &s) const { return s.status != SensorStatus::NotRegistered; }
    quint16 elapsedSeconds(const Sensor &s) const;
    static quint16 setting(const QList<quint16> &words, int index);

    DeviceRegisterMap m_map;
    Options m_options;
    std::vector<Region> m_regions; // sorted by start
    std::vector<Sensor> m_sensors;
    std::vector<Relay> m_relays;
    QList<quint16> m_connection;
    std::mt19937 m_rng;
    qint64 m_simMs = 0;
    std::optional<qint64> m_lastRealMs;
    bool m_frozen = false;
    std::vector<bool> m_written; // with named values: registers that hold a written value
};
