#pragma once
#include "LookupText.h"

// The command line's own messages; English in [lang1] of start.ini.
namespace Msg {
// No [connect] port and no --port: where to set one.
inline constexpr TextKey n350{
    "n350", u"Порт не задан: укажите --port ПОРТ (COMn, путь устройства, tcp://УЗЕЛ:ПОРТ, "
            u"mbtcp://УЗЕЛ:ПОРТ) или выберите порт в окне программы кнопкой «Порт» "
            u"(Настройки связи программы)"};
// An option of another subcommand, followed by the option and the subcommand.
inline constexpr TextKey n351{"n351", u"Параметр не для этой команды: "};
// The end of a write-profile run, one line per fate; followed by frame numbers "k/N".
inline constexpr TextKey n352{"n352", u"Подтверждено контроллером: "};
inline constexpr TextKey n353{"n353", u"Неизвестно, применено ли (послано, подтверждения нет): "};
inline constexpr TextKey n354{"n354", u"Отвергнуто контроллером (не применено): "};
inline constexpr TextKey n355{"n355", u"Не послано: "};
// An interrupted record or watch with --count: rows done of the rows asked for.
inline constexpr TextKey n356{"n356", u"Прервано, строк: "};
// An existing file record cannot continue, reported before connecting.
inline constexpr TextKey n357{"n357", u"Файл тренда не может быть продолжен: "};
// Between the frame numbers of a fate and the number of frames.
inline constexpr TextKey n358{"n358", u" из "};
// get/set: a name that is no setting of the command line (or of this controller's map).
inline constexpr TextKey n359{"n359", u"Неизвестная настройка: "};
// write-profile --diff with nothing to change; set with the value the controller holds.
inline constexpr TextKey n360{"n360", u"Отличий от контроллера нет, ничего не послано"};
// set: the controller confirmed the write, yet reads another value back; followed by
// "<setting>: <written>", n362 and the value read.
inline constexpr TextKey n361{"n361", u"Записанное значение не прочитано обратно: "};
inline constexpr TextKey n362{"n362", u", прочитано "};
// Usage faults of get/set, followed by the subcommand or the setting.
inline constexpr TextKey n363{"n363", u"Не указана настройка команды "};
inline constexpr TextKey n364{"n364", u"Не указано значение настройки "};
// trend FILE: the file is no trend file or cannot be read; followed by the path.
inline constexpr TextKey n365{"n365", u"Файл тренда не читается: "};

// history without export or controllers; followed by what was given instead.
inline constexpr TextKey n620{"n620", u"Команде history нужно действие: export или controllers"};
// history export in a store of several controllers, none named.
inline constexpr TextKey n621{"n621", u"В истории несколько контроллеров: укажите --controller N "
                                      u"(список: velmaris-cli history controllers)"};
// --controller with a number the store does not know; followed by it.
inline constexpr TextKey n622{"n622", u"В истории нет контроллера "};
// history, events in a folder that has never kept one; followed by the file.
inline constexpr TextKey n623{"n623", u"В рабочей папке нет истории: "};
// history export: the file was not written; followed by the reason.
inline constexpr TextKey n624{"n624", u"Экспорт не записан: "};
// An alarm's line (events, serve): before the event's text.
inline constexpr TextKey n625{"n625", u"ТРЕВОГА: "};
// history, events: the store cannot be opened; followed by the file and why.
inline constexpr TextKey n626{"n626", u"История не открывается: "};
// The store writes again after a problem (its own text told the problem).
inline constexpr TextKey n627{"n627", u"История записывается снова"};
// serve started; followed by the store's file.
inline constexpr TextKey n628{"n628", u"Опрос без окна, история в "};
// serve ended on a signal, the store written.
inline constexpr TextKey n629{"n629", u"Опрос остановлен, история записана"};
// history export from a store that holds no controller yet.
inline constexpr TextKey n630{"n630", u"В истории нет ни одного контроллера"};
// A damaged store was set aside; followed by its new name.
inline constexpr TextKey n631{"n631", u"Файл истории не читается и отложен: "};
// serve ended while the store could not write: what waited is lost; followed by why.
inline constexpr TextKey n633{"n633", u"Опрос остановлен, часть истории не записана. "};
// serve: the link went down; followed by the failure.
inline constexpr TextKey n632{"n632", u"Связь потеряна: "};

// A plant (--plant plant.ini): the help's section, one line per key after the option or
// command it explains.
inline constexpr TextKey n690{"n690", u"Установка из нескольких контроллеров (--plant):"};
inline constexpr TextKey n691{"n691", u"файл установки: все её контроллеры; рабочая папка - папка "
                                      u"этого файла (иначе --workdir)"};
inline constexpr TextKey n692{"n692", u"по результату на контроллер; код выхода не 0, если "
                                      u"какой-либо не ответил или не QOR7070"};
inline constexpr TextKey n693{"n693", u"строки всех контроллеров: в JSON поле \"controller\", в "
                                      u"тексте имя в начале строки; --count: строк каждого"};
inline constexpr TextKey n694{"n694", u"файл тренда на контроллер: Trends/ в папке контроллера или "
                                      u"ФАЙЛ с именем контроллера"};
inline constexpr TextKey n695{"n695", u"все контроллеры, одна история; тревоги и связь с именем "
                                      u"контроллера"};
// plant.ini refused or missing; followed by the file and the reason (ReadPlant's message).
inline constexpr TextKey n696{"n696", u"Файл установки не принят: "};
// A line option given with --plant (the line comes from plant.ini); followed by the option.
inline constexpr TextKey n697{"n697", u"С --plant линия задается в plant.ini, параметр не нужен: "};
// The plant could not start (a controller's folder); followed by why.
inline constexpr TextKey n698{"n698", u"Установка не запущена: "};
// identify of a plant: the controllers that failed; followed by their names.
inline constexpr TextKey n699{"n699", u"Не ответили или не QOR7070: "};
// serve of a plant started; followed by the number of controllers, then n628 and the store.
inline constexpr TextKey n700{"n700", u"Контроллеров: "};
// plant.ini without a controller.
inline constexpr TextKey n701{"n701", u"В файле установки нет ни одного контроллера"};

// The names of the settings in readable lines (write-profile --diff, set): "датчик 3 порог 1".
inline constexpr TextKey n500{"n500", u"датчик "};
inline constexpr TextKey n501{"n501", u"ID"};
inline constexpr TextKey n502{"n502", u"порог 1"};
inline constexpr TextKey n503{"n503", u"порог 2"};
inline constexpr TextKey n504{"n504", u"гистерезис"};
inline constexpr TextKey n505{"n505", u"реле порога 1"};
inline constexpr TextKey n506{"n506", u"реле порога 2"};
inline constexpr TextKey n507{"n507", u"метка"};
inline constexpr TextKey n508{"n508", u"реле "};
inline constexpr TextKey n509{"n509", u"режим"};
inline constexpr TextKey n510{"n510", u"задержка включения"};
inline constexpr TextKey n511{"n511", u"задержка выключения"};
inline constexpr TextKey n512{"n512", u"тайм-аут связи"};
inline constexpr TextKey n513{"n513", u"адрес модуля"};
inline constexpr TextKey n514{"n514", u"скорость"};
inline constexpr TextKey n515{"n515", u"паритет"};
inline constexpr TextKey n516{"n516", u"стоп-биты"};
inline constexpr TextKey n517{"n517", u"канал"};
inline constexpr TextKey n518{"n518", u"язык меню"};
// Parity items in those lines.
inline constexpr TextKey n519{"n519", u"нет"};
inline constexpr TextKey n520{"n520", u"чёт"};
inline constexpr TextKey n521{"n521", u"нечёт"};

// Every message of the command line, for checking the shipped language sections.
inline constexpr TextKey cli[] = {
    n350, n351, n352, n353, n354, n355, n356, n357, n358, n359, n360, n361, n362, n363, n364, n365,
    n500, n501, n502, n503, n504, n505, n506, n507, n508, n509, n510, n511, n512, n513, n514, n515,
    n516, n517, n518, n519, n520, n521, n620, n621, n622, n623, n624, n625, n626, n627, n628, n629,
    n630, n631, n632, n633, n690, n691, n692, n693, n694, n695, n696, n697, n698, n699, n700, n701};
} // namespace Msg
