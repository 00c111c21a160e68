// A device-configuration file as the program loads it for an identified controller, then
// the reads the poll cycle makes with that map, answered by a fake controller whose every
// register holds its own address. An accepted map reads every cell from its own register;
// a refused one shows the configuration-error message.
#include "DeviceRegisterMap.h"
#include "FuzzInput.h"
#include "MainState.h"
#include "ModbusCrc.h"
#include "ModbusFrames.h"
#include "RecorderView.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <memory>

namespace {

struct Read {
    quint32 start, count;
};

// Every read of a poll cycle with this map, as the cycle computes it (in 16 bits).
QList<Read> pollReads(const DeviceRegisterMap &m, quint16 firmware) {
    QList<Read> reads = {{m.RELAY_STATUS_ADDR, 1},
                         {m.QOR_STATUS_ADDR, m.MAX_SENSORS},
                         {m.QOR_TEMPERATURE_ADDR, m.MAX_SENSORS},
                         {m.QOR_TIMEELAPSED_ADDR, m.MAX_SENSORS},
                         {m.CONNECT_SETTINGS_ADDR, m.CONNECT_SETTINGS_SIZE}};
    for (quint32 i = 0; i < m.MAX_SENSORS; ++i) {
        reads.append({quint32(m.SENSOR_SETTINGS_ADDR) + i * m.SENSOR_SETTINGS_STEP,
                      m.SENSOR_SETTINGS_SIZE_MODBUS});
        if (firmware >= kFirstTagFirmware)
            reads.append({quint32(m.QOR_SENSOR_TAG_ADDR) + i * m.QOR_SENSOR_TAG_STEP,
                          m.QOR_SENSOR_TAG_SIZE});
    }
    for (quint32 r = 0; r < m.RELAY_NUMBER; ++r)
        reads.append(
            {quint32(m.RELAY_SETTINGS_ADDR) + r * m.RELAY_SETTINGS_STEP, m.RELAY_SETTINGS_SIZE});
    return reads;
}

// The fake controller's answer: register n holds n.
QByteArray namedAnswer(const QByteArray &request) {
    const quint16 start = ModbusFrame::word(request, 2), count = ModbusFrame::word(request, 4);
    QByteArray a = request.left(2);
    a.append(char(quint8(2 * count)));
    for (quint16 i = 0; i < count; ++i)
        ModbusFrame::appendWord(a, quint16(start + i));
    AppendModbusCrc(a);
    return a;
}

QTemporaryDir *folder = nullptr;

} // namespace

extern "C" int LLVMFuzzerInitialize(int *, char ***) {
    folder = new QTemporaryDir;
    QDir().mkpath(folder->filePath(QStringLiteral("Cfg")));
    QFile::copy(QStringLiteral(VELMARIS_SOURCE_DIR "/data/start.ini"),
                folder->filePath(QStringLiteral("start.ini")));
    QDir::setCurrent(folder->path());
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    static RecorderView view = [] {
        RecorderView v;
        v.pumpEvents = false;
        v.visibleRows = 10;
        return v;
    }();
    static MainState state(view);

    FuzzInput in(data, size);
    const uint8_t head = in.byte();
    const quint16 firmware = quint16(0x0100 + head % 3);
    const QString fwText = VersionText(firmware);
    QByteArray file = in.rest();
    if (head & 0x80) // most real files carry the right firmware; let the fuzzer skip finding it
        file.prepend("[hardware]\r\nfw=" + fwText.toLatin1() + "\r\n");
    {
        QFile f(DeviceConfigPath(QDir::currentPath(), firmware));
        f.open(QIODevice::WriteOnly | QIODevice::Truncate);
        f.write(file);
    }

    view.messages.clear();
    view.statusLog.clear();
    state.deviceConfigPath.clear(); // read the file again, though its name is the same
    const bool ok = state.LoadDeviceConfiguration(3126, firmware);
    if (!ok) {
        FUZZ_CHECK(view.messages.size() == 1);
        FUZZ_CHECK(view.messages[0].startsWith(
            QStringLiteral("Ошибка | Ошибка в файле конфигурации устройства")));
        return 0;
    }
    FUZZ_CHECK(view.messages.isEmpty());
    const DeviceRegisterMap &m = state.registerMap;
    FUZZ_CHECK(RegisterMapProblem(m, firmware).isEmpty());
    for (const Read &r : pollReads(m, firmware)) {
        FUZZ_CHECK(r.count >= 1 && r.count <= quint32(kMaxRegistersPerRead));
        FUZZ_CHECK(r.start + r.count <= 0x10000); // no read wraps to register 0
        ModbusReadRecord record;
        record.slaveAddress = 100;
        record.startRegister = quint16(r.start);
        record.registerCount = quint16(r.count);
        const QByteArray request =
            ModbusFrame::readRequest(100, quint16(r.start), quint16(r.count));
        FUZZ_CHECK(state.modbus.AcceptReadAnswer(record, request, namedAnswer(request)));
        for (quint32 i = 0; i < r.count; ++i)
            FUZZ_CHECK(record.values[i] == r.start + i);
    }
    // The grids the cycle fills hold every column it writes.
    FUZZ_CHECK(state.sensorSettings.colCount() == m.SENSOR_SETTINGS_SIZE_MODBUS);
    FUZZ_CHECK(state.sensorsData.colCount() == m.SENSOR_DATA_SIZE + 1);
    return 0;
}
