#pragma once
#include <QString>

class MemIniFile;

// A user-visible text: its language key and the built-in Russian text.
struct TextKey {
    const char *key;
    const char16_t *russian;
};

// The text of key in the language chosen by [language] lang (read afresh each call), or
// the built-in text when that language section lacks the key.
QString LookupText(const MemIniFile &settings, const char *key, const QString &def);
QString LookupText(const MemIniFile &settings, const TextKey &text);

namespace Msg {
inline constexpr TextKey n22{"n22", u"Версия прошивки: "};
inline constexpr TextKey n32{"n32", u"Датчик"};
inline constexpr TextKey n67{"n67", u"Ошибка"};
inline constexpr TextKey n68{"n68", u"Некорректное значение адреса модуля"};
inline constexpr TextKey n71{"n71", u"Некорректное значение ReadIntervalTimeout"};
inline constexpr TextKey n72{"n72", u"Текущий файл профиля не найден!"};
inline constexpr TextKey n73{"n73", u"Время, с - время в секундах, прошедшее с момента последнего выхода датчика в эфир"};
inline constexpr TextKey n74{"n74", u"Параметр связи Скорость не выбран"};
inline constexpr TextKey n75{"n75", u"Параметр связи Паритет не выбран"};
inline constexpr TextKey n76{"n76", u"Параметр связи Кол-во Стоп-бит не выбран"};
inline constexpr TextKey n77{"n77", u"Параметр связи Язык меню не выбран"};
inline constexpr TextKey n79{"n79", u"Адрес модуля должен быть положительным целым числом от 1 до 247"};
inline constexpr TextKey n80{"n80", u"Номер канала должен быть положительным целым числом от 1 до 126"};
inline constexpr TextKey n81{"n81", u"Строка "};
inline constexpr TextKey n82{"n82", u" не относится ни к какому-либо из датчиков (нет номера датчика в заголовке)"};
inline constexpr TextKey n83{"n83", u"Параметр "};
inline constexpr TextKey n84{"n84", u" должен быть положительным целым числом"};
inline constexpr TextKey n85{"n85", u" должен быть от "};
inline constexpr TextKey n86{"n86", u" до "};
inline constexpr TextKey n87{"n87", u"Ошибка открытия порта"};
inline constexpr TextKey n88{"n88", u"Ошибка передачи команды чтения в модуль"};
inline constexpr TextKey n89{"n89", u"Ошибка получения результата из модуля"};
inline constexpr TextKey n90{"n90", u"Ошибочный адрес модуля в ответе от модуля"};
inline constexpr TextKey n91{"n91", u"Ошибка модуля: код "};
inline constexpr TextKey n92{"n92", u"Ошибочный CRC в ответе от модуля"};
inline constexpr TextKey n93{"n93", u"Превышено количество данных в ответе от модуля"};
inline constexpr TextKey n94{"n94", u"Ошибка передачи команды записи в модуль"};
inline constexpr TextKey n95{"n95", u"Ошибка подтверждения записи из модуля"};
inline constexpr TextKey n96{"n96", u"Ошибочный адрес модуля в ответе от модуля при записи"};
inline constexpr TextKey n97{"n97", u"Ошибка модуля при записи: код "};
inline constexpr TextKey n98{"n98", u"Ошибочный CRC в ответе от модуля при записи"};
inline constexpr TextKey n99{"n99", u"Ошибка в данных в ответе от модуля при записи"};
inline constexpr TextKey n100{"n100", u"Связь отключена пользователем"};
inline constexpr TextKey n101{"n101", u"МОДУЛЬ НА СВЯЗИ"};
inline constexpr TextKey n102{"n102", u"Контроллер QOR7070"};
inline constexpr TextKey n103{"n103", u"Неизвестное устройство!!!!!"};
inline constexpr TextKey n104{"n104", u"В ЭФИРЕ"};
inline constexpr TextKey n105{"n105", u"ПРЕВЫШЕН ПОРОГ 1!"};
inline constexpr TextKey n106{"n106", u"ПРЕВЫШЕН ПОРОГ 2!"};
inline constexpr TextKey n107{"n107", u"НЕТ ПИТАНИЯ"};
inline constexpr TextKey n108{"n108", u"НЕИСПРАВЕН!!"};
inline constexpr TextKey n109{"n109", u"НЕОПРЕДЕЛЕН"};
inline constexpr TextKey n110{"n110", u"НЕ ЗАРЕГИСТИРОВАН"};
inline constexpr TextKey n111{"n111", u"Запись настроек датчиков в контроллер..."};
inline constexpr TextKey n112{"n112", u"Запись настроек реле в контроллер..."};
inline constexpr TextKey n113{"n113", u"Запись настроек связи в контроллер..."};
inline constexpr TextKey n114{"n114", u"ОШИБКА!!!!"};
inline constexpr TextKey n115{"n115", u"УСПЕШНО!!!!"};
inline constexpr TextKey n124{"n124", u"не совпадает с файлом конфигурации"};
inline constexpr TextKey n125{"n125", u"Версия прошивки в файле профиля"};
inline constexpr TextKey n127{"n127", u"Подготовка файла тренда..."};
inline constexpr TextKey n128{"n128", u"Идет запись данных в файл тренда: "};
inline constexpr TextKey n129{"n129", u"Файл тренда: "};
inline constexpr TextKey n130{"n130", u"Ошибка создания папки: "};

// Every message of the table, for tests and for checking a language section.
inline constexpr TextKey all[] = {
    n22,  n32,  n67,  n68,  n71,  n72,  n73,  n74,  n75,  n76,  n77,  n79,  n80,
    n81,  n82,  n83,  n84,  n85,  n86,  n87,  n88,  n89,  n90,  n91,  n92,  n93,
    n94,  n95,  n96,  n97,  n98,  n99,  n100, n101, n102, n103, n104, n105, n106,
    n107, n108, n109, n110, n111, n112, n113, n114, n115, n124, n125, n127, n128,
    n129, n130};
} // namespace Msg
