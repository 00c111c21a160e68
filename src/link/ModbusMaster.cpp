#include "ModbusMaster.h"

#include "LinkReporter.h"
#include "LookupText.h"
#include "MemIniFile.h"
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

bool ModbusMaster::ReadRegistersOnce(ModbusReadRecord &r) { return readOnce(r, false); }

bool ModbusMaster::readOnce(ModbusReadRecord &r, bool retry)
{
    const Timing t = timing();
    r.rawResponse.fill(0);
    r.exceptionAnswer = false;
    const QByteArray request =
        ModbusFrame::readRequest(r.slaveAddress, r.startRegister, r.registerCount);
    if (!m_link.BeginTransaction(request, t.receive, retry) || !m_link.Write(request, t.send))
        return fail(r, LookupText(m_settings, Msg::n88));
    QByteArray answer;
    if (!m_link.Read(answer, ModbusFrame::expectedAnswer(request), kRawResponseSize, t.receive,
                     true))
        return fail(r, LookupText(m_settings, Msg::n89));
    if (!AcceptReadAnswer(r, request, answer)) {
        m_link.AnswerRefused();
        return false;
    }
    m_link.Pause(t.sleep);
    return true;
}

bool ModbusMaster::AcceptReadAnswer(ModbusReadRecord &r, const QByteArray &request,
                                    const QByteArray &answer)
{
    using ModbusFrame::Verdict;
    keepAnswer(r, answer);
    quint8 code = 0;
    switch (ModbusFrame::judgeAnswer(request, answer, &code)) {
    case Verdict::Good: break;
    case Verdict::Missing: return fail(r, LookupText(m_settings, Msg::n89));
    case Verdict::WrongAddress: return fail(r, LookupText(m_settings, Msg::n90));
    case Verdict::Exception:
        r.moduleErrorCode = code;
        r.exceptionAnswer = true;
        return fail(r, withCode(LookupText(m_settings, Msg::n91), code));
    case Verdict::BadCrc: return fail(r, LookupText(m_settings, Msg::n92));
    // Another byte count than asked for: the data of some other request. The closest text
    // the table has.
    case Verdict::WrongData: return fail(r, LookupText(m_settings, Msg::n93));
    }
    const auto &b = r.rawResponse;
    r.receivedCount = quint8(r.registerCount);
    for (int i = 0; i < r.registerCount; ++i)
        r.values[size_t(i)] = quint16(b[size_t(3 + 2 * i)] << 8 | b[size_t(4 + 2 * i)]);
    return true;
}

bool ModbusMaster::confirmWrite(ModbusWriteRecord &r, const QByteArray &request, bool retry)
{
    const Timing t = timing();
    if (!m_link.BeginTransaction(request, t.receive, retry) || !m_link.Write(request, t.send))
        return fail(r, LookupText(m_settings, Msg::n94));
    QByteArray answer;
    // Judged on this attempt's bytes only: a short confirmation is no confirmation.
    if (!m_link.Read(answer, ModbusFrame::expectedAnswer(request), kRawResponseSize, t.receive,
                     false))
        return fail(r, LookupText(m_settings, Msg::n95));
    if (!AcceptWriteAnswer(r, request, answer)) {
        m_link.AnswerRefused();
        return false;
    }
    m_link.Pause(t.sleep);
    return true;
}

bool ModbusMaster::AcceptWriteAnswer(ModbusWriteRecord &r, const QByteArray &request,
                                     const QByteArray &answer)
{
    using ModbusFrame::Verdict;
    keepAnswer(r, answer);
    quint8 code = 0;
    switch (ModbusFrame::judgeAnswer(request, answer, &code)) {
    case Verdict::Good: return true;
    case Verdict::Missing: return fail(r, LookupText(m_settings, Msg::n95));
    case Verdict::WrongAddress: return fail(r, LookupText(m_settings, Msg::n96));
    case Verdict::Exception:
        r.moduleErrorCode = code;
        return fail(r, withCode(LookupText(m_settings, Msg::n97), code));
    case Verdict::BadCrc: return fail(r, LookupText(m_settings, Msg::n98));
    case Verdict::WrongData: return fail(r, LookupText(m_settings, Msg::n99));
    }
    return fail(r, LookupText(m_settings, Msg::n99));
}

bool ModbusMaster::writeOnce(ModbusWriteRecord &r, bool retry)
{
    const QByteArray request = ModbusFrame::writeSingleRequest(r.slaveAddress, r.startRegister,
                                                               r.values[0]);
    return confirmWrite(r, request, retry);
}

bool ModbusMaster::writeManyOnce(ModbusWriteRecord &r, bool retry)
{
    const QByteArray request = ModbusFrame::writeMultipleRequest(
        r.slaveAddress, r.startRegister, r.registerCount, r.values.data());
    return confirmWrite(r, request, retry);
}

bool ModbusMaster::WriteRegistersOnce(ModbusWriteRecord &r) { return writeManyOnce(r, false); }

bool ModbusMaster::WriteRegisterOnce(ModbusWriteRecord &r) { return writeOnce(r, false); }

// After an abort nothing more is sent and nothing is reported: the link was not lost, the
// transaction was called off.
bool ModbusMaster::ReadRegisters(ModbusReadRecord &r, quint16 startRegister, quint16 count)
{
    r.slaveAddress = slaveAddress();
    r.startRegister = startRegister;
    r.registerCount = count;
    for (int attempt = 1; attempt <= kAttempts; ++attempt) {
        const bool ok = readOnce(r, attempt > 1);
        if (m_link.Aborted())
            return ok;
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
    for (int attempt = 1; attempt <= kAttempts; ++attempt) {
        const bool ok = writeOnce(r, attempt > 1);
        if (ok || m_link.Aborted())
            return ok;
    }
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
    for (int attempt = 1; attempt <= kAttempts; ++attempt) {
        const bool ok = writeManyOnce(r, attempt > 1);
        if (ok || m_link.Aborted())
            return ok;
    }
    return false;
}
