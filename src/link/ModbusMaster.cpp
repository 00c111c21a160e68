#include "ModbusMaster.h"

#include "LinkReporter.h"
#include "LookupText.h"
#include "MemIniFile.h"
#include "ModbusCrc.h"
#include "ModbusFrames.h"
#include "SerialLink.h"

#include <algorithm>

namespace {

constexpr int kAttempts = 3;

template <class Record> bool fail(Record &record, const QString &text)
{
    record.errorText = text;
    return false;
}

QString withCode(const QString &text, quint16 code)
{
    return text + QString::number(code, 16).toUpper(); // "%s%X"
}

template <class Record> void keepAnswer(Record &record, const QByteArray &answer)
{
    std::copy_n(answer.constData(), std::min<qsizetype>(answer.size(), kRawResponseSize),
                reinterpret_cast<char *>(record.rawResponse.data()));
}

} // namespace

ModbusMaster::ModbusMaster(SerialLink &link, const MemIniFile &settings, LinkReporter &reporter)
    : m_link(link), m_settings(settings), m_reporter(reporter)
{
}

ModbusMaster::Timing ModbusMaster::timing() const
{
    const QString s = QStringLiteral("connect");
    auto ms = [&](const char *key, int def) {
        return m_settings.readInteger(s, QString::fromLatin1(key), def) & 0xFFFF;
    };
    return {ms("send", 50), ms("receive", 500), ms("sleep", 0)};
}

quint8 ModbusMaster::slaveAddress() const
{
    return quint8(m_settings.readInteger(QStringLiteral("connect"), QStringLiteral("adr"), 100));
}

bool ModbusMaster::ReadRegistersOnce(ModbusReadRecord &r)
{
    const Timing t = timing();
    r.rawResponse.fill(0);
    r.exceptionAnswer = false;
    const QByteArray request = ModbusFrame::readRequest(r.slaveAddress, r.startRegister, r.registerCount);
    m_link.BeginTransaction(t.receive);
    if (!m_link.Write(request, t.send))
        return fail(r, LookupText(m_settings, Msg::n88));
    QByteArray answer;
    if (!m_link.Read(answer, ModbusFrame::ReadHolding, kRawResponseSize, t.receive, true))
        return fail(r, LookupText(m_settings, Msg::n89));
    keepAnswer(r, answer);
    const auto &b = r.rawResponse;
    if (b[0] != r.slaveAddress)
        return fail(r, LookupText(m_settings, Msg::n90));
    if (b[1] != ModbusFrame::ReadHolding) {
        r.moduleErrorCode = b[2];
        r.exceptionAnswer = true;
        return fail(r, withCode(LookupText(m_settings, Msg::n91), r.moduleErrorCode));
    }
    const int n = b[2];
    const quint16 crc = ModbusCrc16(b.data(), n + 3);
    if (b[n + 3] != (crc & 0xFF) || b[n + 4] != (crc >> 8))
        return fail(r, LookupText(m_settings, Msg::n92));
    if (n / 2 > kRecordValues)
        return fail(r, LookupText(m_settings, Msg::n93));
    r.receivedCount = quint8(n / 2);
    for (int i = 0; i < r.receivedCount; ++i)
        r.values[i] = quint16(b[3 + 2 * i] << 8 | b[4 + 2 * i]);
    SerialLink::Pause(t.sleep);
    return true;
}

bool ModbusMaster::confirmWrite(ModbusWriteRecord &r, const QByteArray &request, quint8 function,
                                int compareBytes)
{
    const Timing t = timing();
    m_link.BeginTransaction(t.receive);
    if (!m_link.Write(request, t.send))
        return fail(r, LookupText(m_settings, Msg::n94));
    QByteArray answer;
    // Judged on this attempt's bytes only: a short confirmation is no confirmation.
    if (!m_link.Read(answer, function, 8, t.receive, false) ||
        (answer.size() < 8 && (answer.size() < 2 || quint8(answer[1]) == function)))
        return fail(r, LookupText(m_settings, Msg::n95));
    answer.append(QByteArray(qMax<qsizetype>(0, 8 - answer.size()), '\0'));
    keepAnswer(r, answer);
    const auto &b = r.rawResponse;
    if (b[0] != r.slaveAddress)
        return fail(r, LookupText(m_settings, Msg::n96));
    if (b[1] != function) {
        r.moduleErrorCode = b[2];
        return fail(r, withCode(LookupText(m_settings, Msg::n97), r.moduleErrorCode));
    }
    const quint16 crc = ModbusCrc16(b.data(), 6);
    if (b[6] != (crc & 0xFF) || b[7] != (crc >> 8))
        return fail(r, LookupText(m_settings, Msg::n98));
    if (!std::equal(b.begin() + 2, b.begin() + 2 + compareBytes,
                    reinterpret_cast<const quint8 *>(request.constData()) + 2))
        return fail(r, LookupText(m_settings, Msg::n99));
    SerialLink::Pause(t.sleep);
    return true;
}

bool ModbusMaster::WriteRegistersOnce(ModbusWriteRecord &r)
{
    const QByteArray request = ModbusFrame::writeMultipleRequest(
        r.slaveAddress, r.startRegister, r.registerCount, r.values.data());
    return confirmWrite(r, request, ModbusFrame::WriteMultiple, 4);
}

bool ModbusMaster::WriteRegisterOnce(ModbusWriteRecord &r)
{
    const QByteArray request =
        ModbusFrame::writeSingleRequest(r.slaveAddress, r.startRegister, r.values[0]);
    return confirmWrite(r, request, ModbusFrame::WriteSingle, 2);
}

bool ModbusMaster::ReadRegisters(ModbusReadRecord &r, quint16 startRegister, quint16 count)
{
    r.slaveAddress = slaveAddress();
    r.startRegister = startRegister;
    r.registerCount = count;
    for (int attempt = 1; attempt <= kAttempts; ++attempt) {
        const bool ok = ReadRegistersOnce(r);
        m_reporter.ShowAttemptNumber(attempt);
        if (ok)
            return true;
    }
    m_reporter.SetLinkDown(r.errorText);
    return false;
}

bool ModbusMaster::WriteRegister(ModbusWriteRecord &r, quint16 reg, quint16 value)
{
    r.slaveAddress = slaveAddress();
    r.startRegister = reg;
    r.values[0] = value;
    for (int attempt = 1; attempt <= kAttempts; ++attempt)
        if (WriteRegisterOnce(r))
            return true;
    m_reporter.SetLinkDown(r.errorText);
    return false;
}

bool ModbusMaster::WriteRegisters(ModbusWriteRecord &r, quint16 startRegister, quint16 count,
                                  const quint16 *values)
{
    r.slaveAddress = slaveAddress();
    r.startRegister = startRegister;
    r.registerCount = count;
    std::copy_n(values, std::min<int>(count, kRecordValues), r.values.begin());
    for (int attempt = 1; attempt <= kAttempts; ++attempt)
        if (WriteRegistersOnce(r))
            return true;
    return false;
}
