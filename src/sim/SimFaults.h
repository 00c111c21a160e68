#pragma once
#include <QString>
#include <array>
#include <optional>
#include <random>

// Faults the simulator can put into its answers, in the order they act on one request.
enum class FaultKind {
    Offline,
    NoAnswer,
    Exception,
    WrongAddr,
    Truncated,
    BadCrc,
    Noise,
    Late,
    Lost,
    BadTid
};
constexpr int kFaultKinds = 10;

QString FaultName(FaultKind kind);
std::optional<FaultKind> FaultKindOf(const QString &name);

// Which requests a fault strikes and with what parameter. Requests are counted from the
// moment the fault is switched on; only requests the controller would answer count.
struct FaultRule {
    double rate = 1.0; // probability per request (seeded generator)
    int nth = 0;       // only the n-th request, once
    int every = 0;     // every n-th request
    int value = -1;    // exception code, ms or bytes; -1 for the kind's default
    quint64 seen = 0;

    QString text(FaultKind kind) const;
};

class FaultSet {
public:
    // rule: "key=value" items separated by commas or blanks: rate=P, nth=N, every=N, and
    // the kind's parameter (code= for exception, ms= for late and offline, bytes= for noise
    // and truncated). An empty rule strikes every request.
    bool set(FaultKind kind, const QString &rule, QString *error);
    // "kind" or "kind:rule", as the command line takes it.
    bool setFromOption(const QString &option, QString *error);
    void clear(FaultKind kind) { m_rules[size_t(kind)].reset(); }
    void clearAll() { m_rules = {}; }
    bool active(FaultKind kind) const { return m_rules[size_t(kind)].has_value(); }

    // Counts one request for an active fault; true when the fault strikes it, with its
    // parameter in *value (-1: the kind's default).
    bool strikes(FaultKind kind, std::mt19937 &rng, int *value);
    QString describe() const;

    static QString parameterName(FaultKind kind);

private:
    std::array<std::optional<FaultRule>, kFaultKinds> m_rules;
};
