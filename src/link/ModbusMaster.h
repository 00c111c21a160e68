#pragma once
#include "FrameLog.h"
#include "LinkStatistics.h"

#include <QElapsedTimer>
#include <QString>
#include <array>

class SerialLink;
class MemIniFile;
class LinkReporter;
struct TextKey;

constexpr int kRawResponseSize = 1024;
constexpr int kRecordValues = 512;

// One read the callers keep: the request, the raw answer, the decoded registers and the
// text of the last failure.
struct ModbusReadRecord {
    quint8 slaveAddress = 0;
    quint16 startRegister = 0;
    quint16 registerCount = 0;
    std::array<quint8, kRawResponseSize> rawResponse{};
    QString errorText;
    std::array<quint16, kRecordValues> values{};
    quint8 receivedCount = 0;
    quint16 moduleErrorCode = 0;
    // The last attempt failed because the slave answered with an exception: somebody is
    // there, it just does not know the request.
    bool exceptionAnswer = false;
};

struct ModbusWriteRecord {
    quint8 slaveAddress = 0;
    std::array<quint16, kRecordValues> values{};
    quint16 startRegister = 0;
    quint16 registerCount = 0;
    std::array<quint8, kRawResponseSize> rawResponse{};
    QString errorText;
    quint16 moduleErrorCode = 0;
    // The last attempt was answered with an exception: the slave refused the write.
    bool exceptionAnswer = false;
};

// Modbus RTU master over the serial link: functions 3, 6 and 16. Timing ([connect] send,
// receive, sleep) and the slave address ([connect] adr) are read at every call. Every
// failure is a looked-up text in the record and a false result.
class ModbusMaster {
public:
    ModbusMaster(SerialLink &link, const MemIniFile &settings, LinkReporter &reporter);

    // Up to three attempts ([connect] attempts, 1..10, when set); the attempt number goes to
    // status panel 2 after each; after the last failure the link is reported down. The
    // wrappers stop at once, sending nothing more and reporting nothing, when the link has
    // been aborted.
    bool ReadRegisters(ModbusReadRecord &record, quint16 startRegister, quint16 count);
    // Up to three attempts (as above); reported down after the last failure.
    bool WriteRegister(ModbusWriteRecord &record, quint16 reg, quint16 value);
    // Up to three attempts (as above); the caller reports the outcome.
    bool WriteRegisters(ModbusWriteRecord &record, quint16 startRegister, quint16 count,
                        const quint16 *values);

    // Every attempt is counted here and its frames go into the log; an attempt called off
    // by an abort is neither.
    LinkStatistics &statistics() { return m_statistics; }
    const LinkStatistics &statistics() const { return m_statistics; }
    FrameLog &frameLog() { return m_frameLog; }
    const FrameLog &frameLog() const { return m_frameLog; }

    // At most this many attempts per transaction whatever the settings say (0: no cap). A
    // bus tries a lost controller again with one attempt, so it costs the others little.
    void setAttemptsCap(int cap) { m_attemptsCap = cap; }

    bool ReadRegistersOnce(ModbusReadRecord &record);
    bool WriteRegisterOnce(ModbusWriteRecord &record);
    bool WriteRegistersOnce(ModbusWriteRecord &record);

    // The judgement of one attempt's answer to request: true and the values decoded, or
    // false and the failure text in the record. Needs no link (the fuzz targets call it).
    bool AcceptReadAnswer(ModbusReadRecord &record, const QByteArray &request,
                          const QByteArray &answer);
    bool AcceptWriteAnswer(ModbusWriteRecord &record, const QByteArray &request,
                           const QByteArray &answer);

private:
    struct Timing {
        int send;
        int receive;
        int sleep;
    };
    Timing timing() const;
    int attempts() const;
    quint8 slaveAddress() const;
    // [connect] as last read; read again only when the INI has changed since (looking the
    // keys up on every transaction was a sixth of its CPU).
    struct ConnectValues {
        quint64 revision = 0; // of m_settings; 0: never read
        Timing timing{};
        int attempts = 0;
        quint8 address = 0;
    };
    const ConnectValues &connectValues() const;
    // One attempt (1 the first of a transaction); a retry of the same request takes a late
    // answer to the one before.
    bool readOnce(ModbusReadRecord &record, int attempt);
    bool writeOnce(ModbusWriteRecord &record, int attempt);
    bool writeManyOnce(ModbusWriteRecord &record, int attempt);
    bool confirmWrite(ModbusWriteRecord &record, const QByteArray &request, int attempt);
    // Sends the request and waits for its answer; accept(answer, verdict, code) takes a
    // judged answer into the record. The failure texts name the direction (read or write);
    // letUserIn as for SerialLink::Read. Every attempt is counted and logged.
    template <class Record, class Accept>
    bool exchange(Record &record, const QByteArray &request, int attempt, bool letUserIn,
                  const TextKey &sendFailed, const TextKey &noAnswer, Accept accept);
    bool takeReadAnswer(ModbusReadRecord &record, const QByteArray &answer,
                        ModbusFrame::Verdict verdict, quint8 code);
    bool readVerdict(ModbusReadRecord &record, ModbusFrame::Verdict verdict, quint8 code);
    bool writeVerdict(ModbusWriteRecord &record, ModbusFrame::Verdict verdict, quint8 code);
    // When a request left, for the log (nothing taken while the log is off).
    struct SentAt {
        qint64 ms = 0; // since the epoch
        QElapsedTimer elapsed;
    };
    SentAt sentNow() const;
    // The attempt has ended: count it and log its frames. sent: the request left the port.
    void attemptEnded(const QByteArray &request, bool sent, const SentAt &tx,
                      const QByteArray &answer, AttemptOutcome outcome, int exceptionCode,
                      int attempt);

    SerialLink &m_link;
    const MemIniFile &m_settings;
    LinkReporter &m_reporter;
    LinkStatistics m_statistics;
    FrameLog m_frameLog;
    int m_attemptsCap = 0;
    mutable ConnectValues m_connect;
};
