#include "ModbusMaster.h"

#include "LinkReporter.h"
#include "LookupText.h"
#include "MemIniFile.h"
#include "ModbusFrames.h"
#include "SerialLink.h"

#include <QDateTime>
#include <QElapsedTimer>

#include <algorithm>

namespace {

constexpr int kAttempts = 3;
constexpr int kMaxAttempts = 10;

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
    m_statistics.Reset();
}

ModbusMaster::SentAt ModbusMaster::sentNow() const
{
    SentAt at;
    if (m_frameLog.enabled()) {
        at.ms = QDateTime::currentMSecsSinceEpoch();
        at.elapsed.start(); // the response time, whatever the wall clock does meanwhile
    }
    return at;
}

void ModbusMaster::attemptEnded(const QByteArray &request, bool sent, const SentAt &tx,
                                const QByteArray &answer, AttemptOutcome outcome, int exceptionCode,
                                int attempt)
{
    if (m_link.Aborted())
        return; // called off, not a fault of the line
    m_statistics.CountAttempt(outcome, exceptionCode, sent ? int(request.size()) : 0,
                              int(answer.size()), m_link.BaudRate(), attempt > 1);
    if (!m_frameLog.enabled())
        return;
    // The log keeps a copy of its own size: the read's buffer has room for any answer, and
    // trimming it in place costs more than the copy. The failure is kept as its kind, so
    // the text is made in the language shown.
    m_frameLog.RecordAttempt({tx.ms, request, sent, QDateTime::currentMSecsSinceEpoch(),
                              QByteArray(answer.constData(), answer.size()), outcome,
                              exceptionCode, attempt,
                              tx.elapsed.isValid() ? tx.elapsed.elapsed() : -1});
}

const ModbusMaster::ConnectValues &ModbusMaster::connectValues() const
{
    if (m_connect.revision == m_settings.revision() && m_connect.revision != 0)
        return m_connect;
    const QString s = QStringLiteral("connect");
    auto ms = [&](const char *key, int def) {
        return m_settings.readInteger(s, QString::fromLatin1(key), def) & 0xFFFF;
    };
    m_connect.timing = {ms("send", 50), ms("receive", 500), ms("sleep", 0)};
    // Not in the connection dialog: velmaris-cli --retries sets it for its run.
    const int n = m_settings.readInteger(s, QStringLiteral("attempts"), kAttempts);
    m_connect.attempts = n >= 1 && n <= kMaxAttempts ? n : kAttempts;
    m_connect.address = quint8(m_settings.readInteger(s, QStringLiteral("adr"), 100));
    m_connect.revision = m_settings.revision();
    return m_connect;
}

ModbusMaster::Timing ModbusMaster::timing() const { return connectValues().timing; }

int ModbusMaster::attempts() const
{
    const int tries = connectValues().attempts;
    return m_attemptsCap > 0 ? qMin(tries, m_attemptsCap) : tries;
}

quint8 ModbusMaster::slaveAddress() const { return connectValues().address; }

bool ModbusMaster::ReadRegistersOnce(ModbusReadRecord &r) { return readOnce(r, 1); }

template <class Record, class Accept>
bool ModbusMaster::exchange(Record &r, const QByteArray &request, int attempt, bool letUserIn,
                            const TextKey &sendFailed, const TextKey &noAnswer, Accept accept)
{
    using ModbusFrame::Verdict;
    const Timing t = timing();
    QByteArray answer;
    const bool began = m_link.BeginTransaction(request, t.receive, attempt > 1);
    const SentAt tx = sentNow();
    if (!began || !m_link.Write(request, t.send)) {
        fail(r, LookupText(m_settings, sendFailed));
        attemptEnded(request, false, tx, answer, AttemptOutcome::SendFailed, 0, attempt);
        return false;
    }
    // On a connection the wait follows the measured round trip, never below receive.
    if (!m_link.Read(answer, ModbusFrame::expectedAnswer(request), kRawResponseSize,
                     m_link.AnswerWaitMs(t.receive), letUserIn)) {
        fail(r, LookupText(m_settings, noAnswer));
        attemptEnded(request, true, tx, answer, AttemptOutcome::Timeout, 0, attempt);
        return false;
    }
    quint8 code = 0;
    const Verdict verdict = ModbusFrame::judgeAnswer(request, answer, &code);
    if (verdict != Verdict::Good)
        m_link.AnswerRefused();
    const bool ok = accept(answer, verdict, code);
    attemptEnded(request, true, tx, answer, OutcomeOfVerdict(verdict, request, answer), code,
                 attempt);
    if (!ok)
        return false;
    m_link.Pause(t.sleep);
    return true;
}

bool ModbusMaster::readOnce(ModbusReadRecord &r, int attempt)
{
    r.rawResponse.fill(0);
    r.exceptionAnswer = false;
    const QByteArray request =
        ModbusFrame::readRequest(r.slaveAddress, r.startRegister, r.registerCount);
    return exchange(r, request, attempt, true, Msg::n88, Msg::n89,
                    [&](const QByteArray &answer, ModbusFrame::Verdict verdict, quint8 code) {
                        return takeReadAnswer(r, answer, verdict, code);
                    });
}

bool ModbusMaster::AcceptReadAnswer(ModbusReadRecord &r, const QByteArray &request,
                                    const QByteArray &answer)
{
    quint8 code = 0;
    const ModbusFrame::Verdict verdict = ModbusFrame::judgeAnswer(request, answer, &code);
    return takeReadAnswer(r, answer, verdict, code);
}

bool ModbusMaster::takeReadAnswer(ModbusReadRecord &r, const QByteArray &answer,
                                  ModbusFrame::Verdict verdict, quint8 code)
{
    keepAnswer(r, answer);
    if (!readVerdict(r, verdict, code))
        return false;
    const auto &b = r.rawResponse;
    r.receivedCount = quint8(r.registerCount);
    for (int i = 0; i < r.registerCount; ++i)
        r.values[size_t(i)] = quint16(b[size_t(3 + 2 * i)] << 8 | b[size_t(4 + 2 * i)]);
    return true;
}

bool ModbusMaster::readVerdict(ModbusReadRecord &r, ModbusFrame::Verdict verdict, quint8 code)
{
    using ModbusFrame::Verdict;
    switch (verdict) {
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
    return true;
}

bool ModbusMaster::confirmWrite(ModbusWriteRecord &r, const QByteArray &request, int attempt)
{
    r.exceptionAnswer = false;
    // Judged on this attempt's bytes only: a short confirmation is no confirmation.
    return exchange(r, request, attempt, false, Msg::n94, Msg::n95,
                    [&](const QByteArray &answer, ModbusFrame::Verdict verdict, quint8 code) {
                        keepAnswer(r, answer);
                        return writeVerdict(r, verdict, code);
                    });
}

bool ModbusMaster::AcceptWriteAnswer(ModbusWriteRecord &r, const QByteArray &request,
                                     const QByteArray &answer)
{
    quint8 code = 0;
    const ModbusFrame::Verdict verdict = ModbusFrame::judgeAnswer(request, answer, &code);
    keepAnswer(r, answer);
    return writeVerdict(r, verdict, code);
}

bool ModbusMaster::writeVerdict(ModbusWriteRecord &r, ModbusFrame::Verdict verdict, quint8 code)
{
    using ModbusFrame::Verdict;
    switch (verdict) {
    case Verdict::Good: break;
    case Verdict::Missing: return fail(r, LookupText(m_settings, Msg::n95));
    case Verdict::WrongAddress: return fail(r, LookupText(m_settings, Msg::n96));
    case Verdict::Exception:
        r.moduleErrorCode = code;
        r.exceptionAnswer = true;
        return fail(r, withCode(LookupText(m_settings, Msg::n97), code));
    case Verdict::BadCrc: return fail(r, LookupText(m_settings, Msg::n98));
    case Verdict::WrongData: return fail(r, LookupText(m_settings, Msg::n99));
    }
    return true;
}

bool ModbusMaster::writeOnce(ModbusWriteRecord &r, int attempt)
{
    const QByteArray request = ModbusFrame::writeSingleRequest(r.slaveAddress, r.startRegister,
                                                               r.values[0]);
    return confirmWrite(r, request, attempt);
}

bool ModbusMaster::writeManyOnce(ModbusWriteRecord &r, int attempt)
{
    const QByteArray request = ModbusFrame::writeMultipleRequest(
        r.slaveAddress, r.startRegister, r.registerCount, r.values.data());
    return confirmWrite(r, request, attempt);
}

bool ModbusMaster::WriteRegistersOnce(ModbusWriteRecord &r) { return writeManyOnce(r, 1); }

bool ModbusMaster::WriteRegisterOnce(ModbusWriteRecord &r) { return writeOnce(r, 1); }

// After an abort nothing more is sent and nothing is reported: the link was not lost, the
// transaction was called off.
bool ModbusMaster::ReadRegisters(ModbusReadRecord &r, quint16 startRegister, quint16 count)
{
    r.slaveAddress = slaveAddress();
    r.startRegister = startRegister;
    r.registerCount = count;
    const int tries = attempts();
    for (int attempt = 1; attempt <= tries; ++attempt) {
        const bool ok = readOnce(r, attempt);
        if (m_link.Aborted())
            return ok;
        m_reporter.ShowAttemptNumber(attempt);
        if (ok)
            return true;
    }
    m_statistics.CountLinkLoss();
    m_reporter.SetLinkDown(r.errorText);
    return false;
}

bool ModbusMaster::WriteRegister(ModbusWriteRecord &r, quint16 reg, quint16 value)
{
    r.slaveAddress = slaveAddress();
    r.startRegister = reg;
    r.values[0] = value;
    const int tries = attempts();
    for (int attempt = 1; attempt <= tries; ++attempt) {
        const bool ok = writeOnce(r, attempt);
        if (ok || m_link.Aborted())
            return ok;
    }
    m_statistics.CountLinkLoss();
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
    const int tries = attempts();
    for (int attempt = 1; attempt <= tries; ++attempt) {
        const bool ok = writeManyOnce(r, attempt);
        if (ok || m_link.Aborted())
            return ok;
    }
    return false;
}
