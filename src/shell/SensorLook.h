#pragma once
#include "LookupText.h"

#include <QColor>
#include <QList>
#include <QString>
#include <optional>

class MemIniFile;
class QPalette;
class QWidget;

namespace Msg {
// Tool tip of a state cell whose code the program does not know, followed by ": " and the code;
// also the legend's entry for that colour.
inline constexpr TextKey n398{"n398", u"Неизвестный код состояния"};
// The legend's entry for greyed cells.
inline constexpr TextKey n399{"n399", u"Нет связи: значения не обновляются"};
// First line of a live cell's tool tip while it is greyed.
inline constexpr TextKey n400{"n400", u"Значение не обновляется: нет связи с модулем"};
// Tool tip of a temperature outside the plausible band; the band follows in brackets.
inline constexpr TextKey n401{"n401", u"Показание вне правдоподобного диапазона"};
// Units of the readable time since the last transmission, and the word after it.
inline constexpr TextKey n402{"n402", u"с"};
inline constexpr TextKey n403{"n403", u"мин"};
inline constexpr TextKey n404{"n404", u"ч"};
inline constexpr TextKey n405{"n405", u"назад"};
// Caption in front of the colour legend of the data grids.
inline constexpr TextKey n406{"n406", u"Цвет строки:"};
} // namespace Msg

// How the live grids show what their texts say: a row tinted by its sensor's state, and
// cells greyed while their values are not fresh. Tints are light, so the grid's dark bold
// text stays readable on them.
namespace SensorLook {

// The tint of a row whose sensor reports this status code; none for a sensor on the air.
std::optional<QColor> StateTint(quint16 code);
// A code the status table does not know (shown as "-------").
bool KnownStatus(quint16 code);
// Dark text for a tinted row, whatever the theme's text colour.
QColor TintText();

// Cells whose values are not fresh: grey text on a grey ground, from the grid's palette.
QColor StaleBackground(const QPalette &palette);
QColor StaleText(const QPalette &palette);

// Seconds as the two largest units, "57 мин 3 с" / "2 ч 5 мин" (units looked up).
QString ReadableDuration(const MemIniFile &texts, qint64 seconds);

// The band of PlausibleTemperature as a text, "−60 … +150 °C".
QString PlausibleBandText();

// The legend: one swatch for each tinted state, the unknown code and the greyed cells.
// Named "SensorStateLegend"; each swatch label carries its status code (property
// "stateCode", -1 for greyed) and shows its colour as its background.
QWidget *MakeLegend(QWidget *parent);
void ApplyLegendCaptions(QWidget *legend, const MemIniFile &texts);
// A code that stands for every unknown one in the legend.
inline constexpr int kUnknownLegendCode = 65535;

} // namespace SensorLook
