// Commands on standard input: one line in, one reply line out (OK ... or ERR ...).
#include "Cp1251.h"
#include "IntText.h"
#include "Simulator.h"

#include <QRegularExpression>

namespace {

std::optional<int> number(const QStringList &words, int i)
{
    return i < words.size() ? ParseIntText(words[i]) : std::nullopt;
}

QString err(const QString &why) { return QStringLiteral("ERR ") + why; }
QString ok(const QString &what = {}) { return what.isEmpty() ? QStringLiteral("OK") : QStringLiteral("OK ") + what; }

} // namespace

QString Simulator::command(const QString &line)
{
    static const QRegularExpression blanks(QStringLiteral("\\s+"));
    QStringList words = line.split(blanks, Qt::SkipEmptyParts);
    // "@ADDR command": the controller at that address; without it the first one.
    Unit *unit = m_units.front().get();
    if (!words.isEmpty() && words[0].startsWith(u'@')) {
        const auto a = ParseIntText(words[0].mid(1));
        if (!a || *a < 1 || *a > 247)
            return err(QStringLiteral("@ wants an address 1..247, not '%1'").arg(words[0]));
        unit = unitAt(quint16(*a));
        if (!unit)
            return err(QStringLiteral("no controller at address %1").arg(*a));
        words.removeFirst();
    }
    const QString verb = words.value(0).toLower();
    if (verb == QLatin1String("quit")) {
        m_quit = true;
        return ok();
    }
    if (verb == QLatin1String("controllers")) {
        QStringList addresses;
        for (const auto &u : m_units)
            addresses << QString::number(u->active.address);
        return ok(addresses.join(u' '));
    }
    if (verb == QLatin1String("drop") || verb == QLatin1String("refuse") ||
        verb == QLatin1String("listen"))
        return tcpCommand(verb, words);
    if (verb == QLatin1String("stats")) {
        const qint64 mean = m_stats.timedAnswers ? m_stats.totalAnswerNs / qint64(m_stats.timedAnswers) : 0;
        return ok(QStringLiteral("requests=%1 answered=%2 ignored=%3 faults=%4 max_us=%5 mean_us=%6")
                      .arg(m_stats.requests)
                      .arg(m_stats.answered)
                      .arg(m_stats.ignored)
                      .arg(m_stats.faults)
                      .arg(m_stats.maxAnswerNs / 1000)
                      .arg(mean / 1000));
    }
    if (verb == QLatin1String("help"))
        return ok(QStringLiteral(
            "commands: [@addr] offline [ms] | online | fault <kind> [rule] | fault off <kind> "
            "| faults [off] | set temp|status|elapsed|relay|tag|reg ... | get <reg> [count] "
            "| freeze | unfreeze | address <n> | line | controllers | drop | refuse [ms] "
            "| listen | stats | quit"));
    return unitCommand(*unit, verb, words);
}

QString Simulator::unitCommand(Unit &unit, const QString &verb, const QStringList &words)
{
    if (verb == QLatin1String("offline")) {
        const auto ms = number(words, 1);
        if (words.size() > 1 && (!ms || *ms <= 0))
            return err(QStringLiteral("offline [ms]"));
        unit.offline = true;
        unit.offlineUntilNs.reset();
        if (ms)
            unit.offlineUntilNs = nowNs() + *ms * 1000000LL;
        return ok();
    }
    if (verb == QLatin1String("online")) {
        unit.offline = false;
        return ok();
    }
    if (verb == QLatin1String("freeze") || verb == QLatin1String("unfreeze")) {
        unit.controller.setFrozen(verb == QLatin1String("freeze"));
        return ok();
    }
    if (verb == QLatin1String("fault") || verb == QLatin1String("faults"))
        return faultCommand(unit, words);
    if (verb == QLatin1String("set"))
        return setCommand(unit, words);
    if (verb == QLatin1String("get"))
        return getCommand(unit, words);
    if (verb == QLatin1String("address")) {
        const auto a = number(words, 1);
        if (!a || *a < 1 || *a > 247)
            return err(QStringLiteral("address 1..247"));
        unit.controller.setAddress(quint16(*a));
        unit.active.address = quint16(*a);
        return ok();
    }
    if (verb == QLatin1String("line")) {
        const LineSettings &l = unit.active;
        return ok(QStringLiteral("address=%1 baud=%2 parity=%3 stopbits=%4 channel=%5 language=%6")
                      .arg(l.address)
                      .arg(BaudOfIndex(l.baudIndex))
                      .arg(l.parity)
                      .arg(l.stopBits)
                      .arg(l.channel)
                      .arg(l.language));
    }
    return err(QStringLiteral("unknown command '%1'").arg(verb));
}

QString Simulator::faultCommand(Unit &unit, const QStringList &words)
{
    if (words[0].toLower() == QLatin1String("faults")) {
        if (words.size() == 1)
            return ok(unit.faults.describe());
        if (words.size() == 2 && words[1] == QLatin1String("off")) {
            unit.faults.clearAll();
            return ok();
        }
        return err(QStringLiteral("faults [off]"));
    }
    if (words.size() == 3 && words[1] == QLatin1String("off")) {
        const auto kind = FaultKindOf(words[2]);
        if (!kind)
            return err(QStringLiteral("unknown fault '%1'").arg(words[2]));
        unit.faults.clear(*kind);
        return ok();
    }
    if (words.size() < 2)
        return err(QStringLiteral("fault <kind> [rule] | fault off <kind>"));
    QString error;
    // "fault badcrc rate=0.5" and "fault badcrc:rate=0.5" mean the same.
    QString option = words.mid(1).join(QLatin1Char(' '));
    option.replace(QRegularExpression(QStringLiteral("^(\\w+)\\s+")), QStringLiteral("\\1:"));
    if (option.section(QLatin1Char(':'), 0, 0) == FaultName(FaultKind::BadTid) && !m_config.mbap)
        return err(QStringLiteral("badtid needs --framing mbtcp"));
    if (!unit.faults.setFromOption(option, &error))
        return err(error);
    return ok(unit.faults.describe());
}

QString Simulator::setCommand(Unit &unit, const QStringList &words)
{
    const QString what = words.value(1).toLower();
    const auto item = number(words, 2);
    if (what == QLatin1String("reg")) {
        QList<quint16> values;
        for (int i = 3; i < words.size(); ++i) {
            const auto v = number(words, i);
            if (!v || *v < 0 || *v > 0xFFFF)
                return err(QStringLiteral("set reg <register> <value>..."));
            values.append(quint16(*v));
        }
        if (!item || *item < 0 || *item > 0xFFFF || values.isEmpty())
            return err(QStringLiteral("set reg <register> <value>..."));
        bool connection = false;
        const quint8 code = unit.controller.write(quint16(*item), values, &connection);
        if (code)
            return err(QStringLiteral("exception %1").arg(code));
        if (connection)
            applyLine(unit);
        return ok();
    }
    if (!item)
        return err(QStringLiteral("set %1 <number> ...").arg(what));
    const QString arg = words.value(3).toLower();
    const auto value = number(words, 3);
    bool done = false;
    if (what == QLatin1String("temp") && value) {
        done = unit.controller.setTemperature(*item, *value);
    } else if (what == QLatin1String("status")) {
        if (arg == QLatin1String("auto"))
            done = unit.controller.setStatus(*item, std::nullopt);
        else if (value && *value >= 0 && *value <= 0xFFFF)
            done = unit.controller.setStatus(*item, quint16(*value));
    } else if (what == QLatin1String("elapsed") && value) {
        done = unit.controller.setElapsed(*item, *value);
    } else if (what == QLatin1String("relay")) {
        if (arg == QLatin1String("auto"))
            done = unit.controller.setRelay(*item, std::nullopt);
        else if (value && (*value == 0 || *value == 1))
            done = unit.controller.setRelay(*item, *value == 1);
    } else if (what == QLatin1String("tag") && words.size() >= 3) {
        bool lossless = true;
        const QByteArray bytes = Cp1251::encode(words.mid(3).join(QLatin1Char(' ')), &lossless);
        done = lossless && unit.controller.setTag(*item, bytes);
    }
    return done ? ok() : err(QStringLiteral("bad or out-of-range 'set %1' arguments").arg(what));
}

QString Simulator::getCommand(Unit &unit, const QStringList &words)
{
    const auto start = number(words, 1);
    const auto count = words.size() > 2 ? number(words, 2) : std::optional<int>(1);
    if (!start || !count || *start < 0 || *start > 0xFFFF || *count < 1 || *count > 0xFFFF)
        return err(QStringLiteral("get <register> [count]"));
    QList<quint16> values;
    const quint8 code = unit.controller.read(quint16(*start), quint16(*count), values);
    if (code)
        return err(QStringLiteral("exception %1").arg(code));
    QStringList texts;
    for (quint16 v : values)
        texts << QString::number(v);
    return ok(texts.join(QLatin1Char(' ')));
}

QString Simulator::tcpCommand(const QString &verb, const QStringList &words)
{
    if (m_config.tcp.isEmpty())
        return err(verb + QStringLiteral(" needs --tcp"));
    if (verb == QLatin1String("drop")) {
        if (words.size() > 1)
            return err(QStringLiteral("drop"));
        dropClient(QStringLiteral("dropped by command"));
        return ok();
    }
    if (verb == QLatin1String("refuse")) {
        const auto ms = number(words, 1);
        if (words.size() > 2 || (words.size() > 1 && (!ms || *ms <= 0)))
            return err(QStringLiteral("refuse [ms]"));
        dropClient(QStringLiteral("dropped, refusing connections"));
        m_tcp.stopListening();
        m_refuseUntilNs.reset();
        if (ms)
            m_refuseUntilNs = nowNs() + *ms * 1000000LL;
        return ok();
    }
    if (words.size() > 1)
        return err(QStringLiteral("listen"));
    QString error;
    m_refuseUntilNs.reset();
    if (!m_tcp.listenAgain(&error))
        return err(error);
    log("NOTE", QStringLiteral("listening on ") + m_tcp.address());
    return ok();
}
