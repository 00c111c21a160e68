#pragma once
#include "LookupText.h"

// The plant view and the plant dialog.
namespace Msg {
inline constexpr TextKey n660{"n660", u"Установка"};
// Columns of the plant view.
inline constexpr TextKey n661{"n661", u"Контроллер"};
inline constexpr TextKey n662{"n662", u"Связь"};
inline constexpr TextKey n663{"n663", u"Прибор, прошивка"};
inline constexpr TextKey n664{"n664", u"Датчиков"};
inline constexpr TextKey n665{"n665", u"Самый тёплый"};
inline constexpr TextKey n666{"n666", u"Выше порога 1"};
inline constexpr TextKey n667{"n667", u"Выше порога 2"};
inline constexpr TextKey n668{"n668", u"Нет питания"};
inline constexpr TextKey n669{"n669", u"Неисправны"};
inline constexpr TextKey n670{"n670", u"Обновлено"};
inline constexpr TextKey n671{"n671", u"Тревоги"};
inline constexpr TextKey n672{"n672", u"Настроить установку"};
inline constexpr TextKey n673{"n673", u"Установка не настроена (нет файла plant.ini): добавьте её контроллеры"};
inline constexpr TextKey n674{"n674", u"Датчик"};
// The plant dialog.
inline constexpr TextKey n675{"n675", u"Настройка установки"};
inline constexpr TextKey n676{"n676", u"Добавить"};
inline constexpr TextKey n677{"n677", u"Удалить"};
inline constexpr TextKey n678{"n678", u"Выше"};
inline constexpr TextKey n679{"n679", u"Ниже"};
inline constexpr TextKey n680{"n680", u"Проверить связь"};
inline constexpr TextKey n681{"n681", u"Имя"};
inline constexpr TextKey n682{"n682", u"Порт"};
inline constexpr TextKey n683{"n683", u"Адрес"};
inline constexpr TextKey n684{"n684", u"Скорость"};
inline constexpr TextKey n685{"n685", u"Чётность"};
inline constexpr TextKey n686{"n686", u"Стоп-бит"};
inline constexpr TextKey n687{"n687", u"Файл Cfg"};
// Test connection: under way, then the answer ("<n7>: 3126, 1.2") or its absence.
inline constexpr TextKey n688{"n688", u"Проверка связи..."};
inline constexpr TextKey n689{"n689", u"Нет ответа: "};

inline constexpr TextKey plant[] = {n660, n661, n662, n663, n664, n665, n666, n667, n668, n669,
                                    n670, n671, n672, n673, n674, n675, n676, n677, n678, n679,
                                    n680, n681, n682, n683, n684, n685, n686, n687, n688, n689};
} // namespace Msg
