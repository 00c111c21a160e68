#include "SensorLook.h"

#include "FlowLayout.h"

#include "Plausible.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QPalette>

namespace SensorLook {

namespace {

struct Tint {
    int code;
    QColor color;
    const TextKey *text;
};

// Light enough for black bold text (contrast above 10:1), far enough apart to tell at a
// glance: warm for the thresholds, cool for a sensor that does not measure.
const Tint kTints[] = {
    {1, QColor(255, 236, 140), &Msg::n105},  // threshold 1: yellow
    {2, QColor(255, 176, 164), &Msg::n106},  // threshold 2: red
    {10, QColor(190, 214, 246), &Msg::n107}, // no power: blue
    {20, QColor(228, 190, 242), &Msg::n108}, // faulty: violet
    {30, QColor(246, 212, 172), &Msg::n109}, // undetermined: tan
    {kUnknownLegendCode, QColor(184, 236, 222), &Msg::n398}, // a code nobody knows: teal
};

QColor Mix(const QColor &a, const QColor &b, double share)
{
    auto part = [&](int x, int y) { return int(x * (1 - share) + y * share + 0.5); };
    return QColor(part(a.red(), b.red()), part(a.green(), b.green()), part(a.blue(), b.blue()));
}

} // namespace

bool KnownStatus(quint16 code)
{
    switch (code) {
    case 0: case 1: case 2: case 10: case 20: case 30: case 40: return true;
    default: return false;
    }
}

std::optional<QColor> StateTint(quint16 code)
{
    if (code == 0 || code == 40)
        return std::nullopt;
    const int key = KnownStatus(code) ? code : kUnknownLegendCode;
    for (const Tint &t : kTints)
        if (t.code == key)
            return t.color;
    return std::nullopt;
}

QColor TintText() { return QColor(0, 0, 0); }

QColor StaleBackground(const QPalette &palette)
{
    return Mix(palette.color(QPalette::Base), QColor(128, 128, 128), 0.18);
}

QColor StaleText(const QPalette &palette)
{
    return Mix(palette.color(QPalette::Text), StaleBackground(palette), 0.55);
}

QString ReadableDuration(const MemIniFile &texts, qint64 seconds)
{
    const QString s = LookupText(texts, Msg::n402), min = LookupText(texts, Msg::n403),
                  h = LookupText(texts, Msg::n404);
    auto two = [](qint64 a, const QString &ua, qint64 b, const QString &ub) {
        QString text = QString::number(a) + u' ' + ua;
        if (b > 0)
            text += u' ' + QString::number(b) + u' ' + ub;
        return text;
    };
    seconds = qMax<qint64>(0, seconds);
    QString text;
    if (seconds < 60)
        text = QString::number(seconds) + u' ' + s;
    else if (seconds < 3600)
        text = two(seconds / 60, min, seconds % 60, s);
    else
        text = two(seconds / 3600, h, seconds % 3600 / 60, min);
    return text + u' ' + LookupText(texts, Msg::n405);
}

QString PlausibleBandText()
{
    auto signedNumber = [](double v) {
        return (v < 0 ? QString(u'\u2212') : QStringLiteral("+")) + QString::number(qAbs(v));
    };
    return signedNumber(kPlausibleMinC) + QStringLiteral(" \u2026 ") +
           signedNumber(kPlausibleMaxC) + QStringLiteral(" \u00B0C");
}

QWidget *MakeLegend(QWidget *parent)
{
    auto *legend = new QWidget(parent);
    legend->setObjectName(QStringLiteral("SensorStateLegend"));
    auto *row = new FlowLayout(legend);
    auto *caption = new QLabel(legend);
    caption->setObjectName(QStringLiteral("SensorStateLegendCaption"));
    row->addWidget(caption);
    auto swatch = [&](int code, const QColor &background, const QColor &text) {
        auto *label = new QLabel(legend);
        label->setProperty("stateCode", code);
        label->setMargin(3);
        label->setAutoFillBackground(true);
        QPalette p = label->palette();
        p.setColor(QPalette::Window, background);
        p.setColor(QPalette::WindowText, text);
        label->setPalette(p);
        row->addWidget(label);
    };
    for (const Tint &t : kTints)
        swatch(t.code, t.color, TintText());
    swatch(-1, StaleBackground(legend->palette()), StaleText(legend->palette()));
    return legend;
}

void ApplyLegendCaptions(QWidget *legend, const MemIniFile &texts)
{
    legend->findChild<QLabel *>(QStringLiteral("SensorStateLegendCaption"))
        ->setText(LookupText(texts, Msg::n406));
    for (QLabel *label : legend->findChildren<QLabel *>()) {
        bool ok = false;
        const int code = label->property("stateCode").toInt(&ok);
        if (!ok)
            continue;
        if (code < 0) {
            label->setText(LookupText(texts, Msg::n399));
            continue;
        }
        for (const Tint &t : kTints)
            if (t.code == code)
                label->setText(LookupText(texts, *t.text));
    }
}

} // namespace SensorLook
