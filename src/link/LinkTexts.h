#pragma once
#include "LookupText.h"

#include <utility>

// Texts of the frame log and the link statistics that the link layer names itself.
namespace LinkText {
// Modbus exception codes by their standard meaning.
inline constexpr TextKey n470{"n470", u"недопустимая функция"};
inline constexpr TextKey n471{"n471", u"недопустимый адрес данных"};
inline constexpr TextKey n472{"n472", u"недопустимое значение данных"};
inline constexpr TextKey n473{"n473", u"отказ ведомого устройства"};
inline constexpr TextKey n474{"n474", u"запрос принят, выполняется"};
inline constexpr TextKey n475{"n475", u"ведомое устройство занято"};
inline constexpr TextKey n476{"n476", u"ошибка чётности памяти"};
inline constexpr TextKey n477{"n477", u"шлюз: путь недоступен"};
inline constexpr TextKey n478{"n478", u"шлюз: устройство не ответило"};
inline constexpr std::pair<int, TextKey> exceptionNames[] = {{1, n470}, {2, n471},  {3, n472},
                                                             {4, n473}, {5, n474},  {6, n475},
                                                             {8, n476}, {10, n477}, {11, n478}};
// The failure of an attempt whose bytes began no frame.
inline constexpr TextKey n479{"n479", u"Помехи: принятые байты не образуют кадр"};
// Frame log columns.
inline constexpr TextKey n480{"n480", u"Попытка"};
inline constexpr TextKey n481{"n481", u"Ответ, мс"};
// Link statistics.
inline constexpr TextKey n482{"n482", u"Всего"};
inline constexpr TextKey n483{"n483", u"За последние 60 с"};
inline constexpr TextKey n484{"n484", u"Качество линии"};
inline constexpr TextKey n485{"n485", u"хорошая"};
inline constexpr TextKey n486{"n486", u"на грани"};
inline constexpr TextKey n487{"n487", u"плохая"};
// %1 and %2: the thresholds in per cent.
inline constexpr TextKey n488{
    "n488", u"Доля неудачных попыток: нет ответа, CRC, помехи, неполные и чужие ответы, сбои "
            u"передачи; отказы контроллера (исключения, кроме кодов шлюза 10 и 11) не в счёт. "
            u"Меньше %1 % — хорошая, от %1 до %2 % — на грани, от %2 % — плохая."};
inline constexpr TextKey n489{"n489", u"нет запросов"};
} // namespace LinkText
