#pragma once
#include "LookupText.h"

// The plant's messages: plant.ini faults, the bus refusing a connection write.
namespace Msg {
// "<n640><path>: <reason>"
inline constexpr TextKey n640{"n640", u"Файл установки не прочитан: "};
// "<n641><section number>)"
inline constexpr TextKey n641{"n641", u"У контроллера нет имени (раздел "};
inline constexpr TextKey n642{"n642", u"Два контроллера с одним именем: "};
inline constexpr TextKey n643{"n643", u"Не указан порт контроллера "};
// "<n644><name>: <port>"
inline constexpr TextKey n644{"n644", u"Неизвестный порт у контроллера "};
// "<n645><name><n646><value>"
inline constexpr TextKey n645{"n645", u"Адрес контроллера "};
inline constexpr TextKey n646{"n646", u" должен быть от 1 до 247, а не "};
// "<n647><port>, <address>: <name>, <name>"
inline constexpr TextKey n647{"n647", u"Два контроллера с одним адресом на одном порту: "};
// "<n648><port>: <name>, <name>"
inline constexpr TextKey n648{"n648", u"У контроллеров на одном порту разные скорость, паритет или стоп-биты: "};
// "<n649><name>: <path>"
inline constexpr TextKey n649{"n649", u"Не найден файл конфигурации контроллера "};
// "<n650><name>: <key>=<value>"
inline constexpr TextKey n650{"n650", u"Неверное число в файле установки у контроллера "};
// "<n651><path>: <reason>"
inline constexpr TextKey n651{"n651", u"Файл установки не записан: "};
// "<n652><names>"
inline constexpr TextKey n652{"n652", u"Скорость, паритет и стоп-биты линии не изменены: на ней есть другие контроллеры, они потеряли бы связь: "};
// "<n653><address><n654><name>"
inline constexpr TextKey n653{"n653", u"Адрес "};
inline constexpr TextKey n654{"n654", u" на этой линии уже занят контроллером "};
// "<n655><name>: <key>=<value>"
inline constexpr TextKey n655{"n655", u"Настройка линии вне допустимых значений у контроллера "};
// "<n656><folder>"
inline constexpr TextKey n656{"n656", u"Не удалось создать папку контроллера: "};
// "<n657><name>"
inline constexpr TextKey n657{"n657", u"Имя контроллера не может содержать перевод строки: "};
// Status of a controller tried again later: "<n658><seconds> с"
inline constexpr TextKey n658{"n658", u"Нет связи, следующая попытка через "};
// The line of the bus failed: every controller on it is offline.
inline constexpr TextKey n659{"n659", u"Порт линии не открывается"};

inline constexpr TextKey plantTexts[] = {n640, n641, n642, n643, n644, n645, n646, n647, n648, n649,
                                         n650, n651, n652, n653, n654, n655, n656, n657, n658, n659};
} // namespace Msg
