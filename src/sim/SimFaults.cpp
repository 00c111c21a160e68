#include "SimFaults.h"

#include <QRegularExpression>
#include <QStringList>

namespace {
const char *const kNames[kFaultKinds] = {"offline",   "noanswer", "exception", "wrongaddr",
                                         "truncated", "badcrc",   "noise",     "late",
                                         "lost",      "badtid"};
}

QString FaultName(FaultKind kind) { return QString::fromLatin1(kNames[int(kind)]); }

std::optional<FaultKind> FaultKindOf(const QString &name)
{
    for (int i = 0; i < kFaultKinds; ++i)
        if (name == QLatin1String(kNames[i]))
            return FaultKind(i);
    return std::nullopt;
}

QString FaultSet::parameterName(FaultKind kind)
{
    switch (kind) {
    case FaultKind::Exception: return QStringLiteral("code");
    case FaultKind::Late:
    case FaultKind::Offline: return QStringLiteral("ms");
    case FaultKind::Noise:
    case FaultKind::Truncated: return QStringLiteral("bytes");
    default: return {};
    }
}

QString FaultRule::text(FaultKind kind) const
{
    QStringList parts;
    if (nth > 0)
        parts << QStringLiteral("nth=%1").arg(nth);
    else if (every > 0)
        parts << QStringLiteral("every=%1").arg(every);
    else
        parts << QStringLiteral("rate=%1").arg(rate);
    if (value >= 0)
        parts << FaultSet::parameterName(kind) + QLatin1Char('=') + QString::number(value);
    return FaultName(kind) + QLatin1Char(':') + parts.join(QLatin1Char(','));
}

bool FaultSet::set(FaultKind kind, const QString &ruleText, QString *error)
{
    FaultRule rule;
    const QString parameter = parameterName(kind);
    static const QRegularExpression separators(QStringLiteral("[,\\s]+"));
    for (const QString &item : ruleText.split(separators, Qt::SkipEmptyParts)) {
        const QString key = item.section(QLatin1Char('='), 0, 0);
        const QString text = item.section(QLatin1Char('='), 1);
        bool ok = !text.isEmpty();
        if (key == QLatin1String("rate")) {
            rule.rate = text.toDouble(&ok);
            ok = ok && rule.rate >= 0 && rule.rate <= 1;
        } else if (key == QLatin1String("nth")) {
            rule.nth = text.toInt(&ok);
            ok = ok && rule.nth >= 1;
        } else if (key == QLatin1String("every")) {
            rule.every = text.toInt(&ok);
            ok = ok && rule.every >= 1;
        } else if (!parameter.isEmpty() && key == parameter) {
            rule.value = text.toInt(&ok);
            ok = ok && rule.value >= 0 && (kind != FaultKind::Exception || rule.value <= 255);
        } else {
            ok = false;
        }
        if (!ok) {
            *error = QStringLiteral("bad fault item '%1' for %2").arg(item, FaultName(kind));
            return false;
        }
    }
    m_rules[size_t(kind)] = rule;
    return true;
}

bool FaultSet::setFromOption(const QString &option, QString *error)
{
    const auto kind = FaultKindOf(option.section(QLatin1Char(':'), 0, 0));
    if (!kind) {
        *error = QStringLiteral("unknown fault '%1'").arg(option.section(QLatin1Char(':'), 0, 0));
        return false;
    }
    return set(*kind, option.section(QLatin1Char(':'), 1), error);
}

bool FaultSet::strikes(FaultKind kind, std::mt19937 &rng, int *value)
{
    std::optional<FaultRule> &rule = m_rules[size_t(kind)];
    if (!rule)
        return false;
    const quint64 n = ++rule->seen;
    *value = rule->value;
    if (rule->nth > 0)
        return n == quint64(rule->nth);
    if (rule->every > 0)
        return n % quint64(rule->every) == 0;
    return std::uniform_real_distribution<double>(0.0, 1.0)(rng) < rule->rate;
}

QString FaultSet::describe() const
{
    QStringList parts;
    for (int i = 0; i < kFaultKinds; ++i)
        if (m_rules[size_t(i)])
            parts << m_rules[size_t(i)]->text(FaultKind(i));
    return parts.join(QLatin1Char(' '));
}
