#pragma once
#include "LookupText.h"

// The texts of the events and alarms. Sensor statuses are the grid's own (n104..n110).
namespace Msg {
inline constexpr TextKey n550{"n550", u"Программа запущена"};
inline constexpr TextKey n551{"n551", u"Программа остановлена"};
// "<n552><the link's failure text>"
inline constexpr TextKey n552{"n552", u"Связь с модулем потеряна: "};
inline constexpr TextKey n553{"n553", u"Связь с модулем восстановлена"};
// "<n554><seconds><n555>"
inline constexpr TextKey n554{"n554", u"Нет связи с модулем дольше "};
inline constexpr TextKey n555{"n555", u" с"};
// "<n556><device code>, FW 1.2 HW 1.0"
inline constexpr TextKey n556{"n556", u"Контроллер опознан: код "};
// "Реле 2<n557>" / "Реле 2<n558>"
inline constexpr TextKey n557{"n557", u": включено"};
inline constexpr TextKey n558{"n558", u": выключено"};
// "Датчик 7: НЕТ ПИТАНИЯ<n559>В ЭФИРЕ)"
inline constexpr TextKey n559{"n559", u" (было "};
// "<n560><what><n565 or n566>"
inline constexpr TextKey n560{"n560", u"Запись в контроллер: "};
inline constexpr TextKey n561{"n561", u"настройки датчиков"};
inline constexpr TextKey n562{"n562", u"настройки реле"};
inline constexpr TextKey n563{"n563", u"настройки связи"};
inline constexpr TextKey n564{"n564", u"профиль"};
inline constexpr TextKey n565{"n565", u" — выполнена"};
inline constexpr TextKey n566{"n566", u" — ошибка"};
inline constexpr TextKey n567{"n567", u"Тревога подтверждена"};
inline constexpr TextKey n568{"n568", u"Все тревоги подтверждены"};
// The kinds, as filters and exports name them.
inline constexpr TextKey n569{"n569", u"Состояние датчика"};
inline constexpr TextKey n570{"n570", u"Переключение реле"};
inline constexpr TextKey n571{"n571", u"Потеря связи"};
inline constexpr TextKey n572{"n572", u"Длительная потеря связи"};
inline constexpr TextKey n573{"n573", u"Опознание контроллера"};
inline constexpr TextKey n574{"n574", u"Запуск программы"};
inline constexpr TextKey n575{"n575", u"Остановка программы"};
inline constexpr TextKey n576{"n576", u"Запись в контроллер"};
inline constexpr TextKey n577{"n577", u"Подтверждение тревоги"};
inline constexpr TextKey n578{"n578", u"Восстановление связи"};
// The status-bar line of the newest waiting alarm: "<n579>03:12:40: <event>"
inline constexpr TextKey n579{"n579", u"Тревога "};

// Every text of the history, for checking the shipped language sections.
inline constexpr TextKey history[] = {n550, n551, n552, n553, n554, n555, n556, n557, n558, n559,
                                      n560, n561, n562, n563, n564, n565, n566, n567, n568, n569,
                                      n570, n571, n572, n573, n574, n575, n576, n577, n578, n579};
} // namespace Msg
