// Answers to a read or a write, split into chunks as a serial port delivers them, taken
// the way the link takes them and judged by the master. An accepted answer is exactly a
// well-formed frame for the request; anything else leaves one of the failure texts.
#include "FuzzInput.h"
#include "LinkReporter.h"
#include "LookupText.h"
#include "MemIniFile.h"
#include "ModbusCrc.h"
#include "ModbusFrames.h"
#include "ModbusMaster.h"
#include "SerialLink.h"

#include <QStringList>

namespace {

struct NoReporter : LinkReporter {
    void SetLinkDown(const QString &) override {}
    void ShowAttemptNumber(int) override {}
};

// A tiny generator the input seeds, for the chunk sizes.
struct Chunker {
    uint32_t state;
    uint32_t next() {
        state = state * 1664525u + 1013904223u;
        return state >> 16;
    }
};

// What the link's Read keeps of the line's bytes: whole chunks as they arrive, until the
// answer's announced length is there, the capacity is full, or the line falls silent (a
// long gap between chunks, or the end of the bytes). Empty when nothing came.
QByteArray takeLikeTheLink(const QByteArray &line, const ModbusFrame::Expected &expected,
                           Chunker &chunker) {
    QByteArray answer;
    qsizetype at = 0;
    while (at < line.size()) {
        const qsizetype chunk = qMin<qsizetype>(1 + chunker.next() % 16, line.size() - at);
        const qsizetype room = kRawResponseSize - answer.size();
        answer.append(line.mid(at, qMin(chunk, room)));
        at += chunk;
        if (ModbusFrame::answerEnds(expected, answer) || answer.size() >= kRawResponseSize)
            break;
        if (chunker.next() % 16 == 0)
            break; // a gap longer than the read interval ends the answer here
    }
    return answer;
}

QByteArray withCrc(QByteArray frame) {
    AppendModbusCrc(frame);
    return frame;
}

// The one good answer to request, built from the protocol, not from the master's code.
QByteArray goodAnswer(const QByteArray &request, FuzzInput &in) {
    QByteArray a = request.left(2);
    if (quint8(request[1]) == ModbusFrame::ReadHolding) {
        const int count = ModbusFrame::word(request, 4);
        a.append(char(quint8(2 * count)));
        for (int i = 0; i < 2 * count; ++i)
            a.append(char(in.byte()));
    } else {
        a.append(request.mid(2, 4));
    }
    return withCrc(a);
}

// Edits a frame: overwrite, drop, insert, cut.
void edit(QByteArray &a, FuzzInput &in) {
    const int edits = in.byte() % 6;
    for (int k = 0; k < edits; ++k) {
        const uint8_t op = in.byte(), pos = in.byte(), value = in.byte();
        const qsizetype at = a.isEmpty() ? 0 : pos % a.size();
        switch (op % 4) {
        case 0:
            if (!a.isEmpty())
                a[at] = char(value);
            break;
        case 1:
            if (!a.isEmpty())
                a.remove(at, 1);
            break;
        case 2:
            a.insert(at, char(value));
            break;
        case 3:
            a.truncate(at);
            break;
        }
    }
}

bool wellFormedRead(const QByteArray &request, const QByteArray &a) {
    const int count = ModbusFrame::word(request, 4);
    return a.size() == 5 + 2 * count && a[0] == request[0] && quint8(a[1]) == 3 &&
           quint8(a[2]) == 2 * count && ModbusCrcMatches(a);
}

bool wellFormedConfirmation(const QByteArray &request, const QByteArray &a) {
    // Function 6 echoes the register (its value echo is not compared); 16 start and count.
    const int echoed = request[1] == char(ModbusFrame::WriteSingle) ? 2 : 4;
    return a.size() == 8 && a.left(2) == request.left(2) &&
           a.mid(2, echoed) == request.mid(2, echoed) && ModbusCrcMatches(a);
}

bool isFailureText(const QString &text, const MemIniFile &ini, bool read, quint16 code) {
    const QList<TextKey> plain = read ? QList<TextKey>{Msg::n89, Msg::n90, Msg::n92, Msg::n93}
                                      : QList<TextKey>{Msg::n95, Msg::n96, Msg::n98, Msg::n99};
    for (const TextKey &k : plain)
        if (text == LookupText(ini, k))
            return true;
    return text ==
           LookupText(ini, read ? Msg::n91 : Msg::n97) + QString::number(code, 16).toUpper();
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    static MemIniFile settings{QString()}; // built-in texts
    static NoReporter reporter;
    static SerialLink link(settings, reporter); // never opened: only the judgement runs
    static ModbusMaster master(link, settings, reporter);

    FuzzInput in(data, size);
    const uint8_t kind = in.byte() % 3;
    const uint8_t address = in.byte();
    const uint16_t start = in.word();
    QByteArray request;
    ModbusReadRecord read;
    ModbusWriteRecord write;
    if (kind == 0) {
        read.slaveAddress = address;
        read.startRegister = start;
        read.registerCount = in.byte() % 130; // past 127 no byte count can announce it
        request = ModbusFrame::readRequest(address, start, read.registerCount);
    } else if (kind == 1) {
        write.slaveAddress = address;
        write.startRegister = start;
        write.values[0] = in.word();
        request = ModbusFrame::writeSingleRequest(address, start, write.values[0]);
    } else {
        write.slaveAddress = address;
        write.startRegister = start;
        write.registerCount = 1 + in.byte() % 123;
        for (int i = 0; i < write.registerCount; ++i)
            write.values[size_t(i)] = uint16_t(i);
        request = ModbusFrame::writeMultipleRequest(address, start, write.registerCount,
                                                    write.values.data());
    }
    Chunker chunker{uint32_t(in.byte()) << 8 | in.byte()};

    QByteArray line;
    switch (in.byte() % 4) {
    case 0:
        line = in.rest();
        break; // anything at all
    case 1:
        line = goodAnswer(request, in);
        edit(line, in);
        break; // damaged
    case 2: {  // well-sealed but maybe wrong
        line = goodAnswer(request, in);
        line.chop(2);
        edit(line, in);
        line = withCrc(line);
        break;
    }
    case 3: // an exception
        line = withCrc(request.left(1) + char(request[1] | 0x80) + char(in.byte()));
        break;
    }
    line.append(in.rest()); // what else the line carries after it

    const QByteArray answer = takeLikeTheLink(line, ModbusFrame::expectedAnswer(request), chunker);
    if (answer.isEmpty())
        return 0; // nothing arrived: the read itself fails, no judgement

    if (kind == 0) {
        const bool ok = master.AcceptReadAnswer(read, request, answer);
        FUZZ_CHECK(ok == wellFormedRead(request, answer));
        if (ok) {
            FUZZ_CHECK(read.receivedCount == read.registerCount);
            for (int i = 0; i < read.registerCount; ++i)
                FUZZ_CHECK(read.values[size_t(i)] == ModbusFrame::word(answer, 3 + 2 * i));
        } else {
            FUZZ_CHECK(isFailureText(read.errorText, settings, true, read.moduleErrorCode));
            FUZZ_CHECK(!read.exceptionAnswer ||
                       (answer.size() == 5 && answer[0] == request[0] && ModbusCrcMatches(answer)));
        }
    } else {
        const bool ok = master.AcceptWriteAnswer(write, request, answer);
        FUZZ_CHECK(ok == wellFormedConfirmation(request, answer));
        if (!ok)
            FUZZ_CHECK(isFailureText(write.errorText, settings, false, write.moduleErrorCode));
    }
    return 0;
}
