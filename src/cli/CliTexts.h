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
} // namespace Msg
