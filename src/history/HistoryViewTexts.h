#pragma once
#include "LookupText.h"

// Texts of the events view, the alarm line and the history parts of the charts.
namespace Msg {
inline constexpr TextKey n580{"n580", u"Журнал событий"};
inline constexpr TextKey n581{"n581", u"Все события"};
inline constexpr TextKey n582{"n582", u"Только тревоги"};
inline constexpr TextKey n583{"n583", u"Датчик/реле:"};
inline constexpr TextKey n584{"n584", u"любой"};
inline constexpr TextKey n585{"n585", u"Контроллер:"};
inline constexpr TextKey n586{"n586", u"Все контроллеры"};
inline constexpr TextKey n587{"n587", u"Период:"};
inline constexpr TextKey n588{"n588", u"Последний час"};
inline constexpr TextKey n589{"n589", u"Последние 24 часа"};
inline constexpr TextKey n590{"n590", u"Последние 7 дней"};
inline constexpr TextKey n591{"n591", u"Последние 30 дней"};
inline constexpr TextKey n592{"n592", u"Всё время"};
inline constexpr TextKey n593{"n593", u"Заданный"};
inline constexpr TextKey n594{"n594", u"с"};
inline constexpr TextKey n595{"n595", u"по"};
inline constexpr TextKey n596{"n596", u"Подтвердить"};
inline constexpr TextKey n597{"n597", u"Подтвердить все"};
inline constexpr TextKey n598{"n598", u"Копировать"};
inline constexpr TextKey n599{"n599", u"Экспорт CSV..."};
// Columns of the events view and of its CSV file.
inline constexpr TextKey n600{"n600", u"Время"};
inline constexpr TextKey n601{"n601", u"Вид"};
inline constexpr TextKey n602{"n602", u"Контроллер"};
inline constexpr TextKey n603{"n603", u"Номер"};
inline constexpr TextKey n604{"n604", u"Событие"};
inline constexpr TextKey n605{"n605", u"Тревога"};
inline constexpr TextKey n606{"n606", u"Подтверждено"};
// The alarm count on the events button and the status line.
inline constexpr TextKey n607{"n607", u"Неподтверждённых тревог: "};
inline constexpr TextKey n608{"n608", u"Тревога: "};
inline constexpr TextKey n609{"n609", u"История не ведётся: файл истории не открыт"};
// The trend viewer's history range.
inline constexpr TextKey n610{"n610", u"Из истории..."};
inline constexpr TextKey n611{"n611", u"Показания из истории"};
inline constexpr TextKey n612{"n612", u"Показать"};
inline constexpr TextKey n613{"n613", u"В файл тренда..."};
inline constexpr TextKey n614{"n614", u"В CSV..."};
inline constexpr TextKey n615{"n615", u"История: "};
inline constexpr TextKey n616{"n616", u"За этот период показаний нет"};
inline constexpr TextKey n617{"n617", u"Показать окно"};
inline constexpr TextKey n618{"n618", u"Сохранить события"};
inline constexpr TextKey n619{"n619", u"Выход"};
} // namespace Msg
