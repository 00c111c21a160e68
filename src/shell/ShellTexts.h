#pragma once
#include "LookupText.h"

// Captions of the windows that the key table of the description leaves without a key: they
// follow the chosen language like the others.
namespace Msg {
inline constexpr TextKey n410{"n410", u"Дискретные входы"};
inline constexpr TextKey n411{"n411", u"Дискретные выходы"};
// Texts of the tool buttons (shown where a button has no picture, and to accessibility).
inline constexpr TextKey n412{"n412", u"Порт"};
inline constexpr TextKey n413{"n413", u"Стоп"};
inline constexpr TextKey n414{"n414", u"Пуск"};
// Hints of the language buttons: each names its language so that it is found in the other.
inline constexpr TextKey n415{"n415", u"Английский (English)"};
inline constexpr TextKey n416{"n416", u"Русский"};
inline constexpr TextKey n417{"n417", u"Открыть файл конфигурации"};
// The trend-recording group.
inline constexpr TextKey n418{"n418", u"Запись в файл"};
inline constexpr TextKey n419{"n419", u"Старт"};
inline constexpr TextKey n420{"n420", u"Стоп"};
inline constexpr TextKey n421{"n421", u"Записывать раз в"};
inline constexpr TextKey n422{"n422", u"сек"};
inline constexpr TextKey n423{"n423", u"Загрузить из файла..."};
// Items of the parity and menu-language boxes, in item order (the index is what counts).
inline constexpr TextKey n424{"n424", u"нет"};
inline constexpr TextKey n425{"n425", u"чет"};
inline constexpr TextKey n426{"n426", u"нечет"};
inline constexpr TextKey n427{"n427", u"Русский"};
inline constexpr TextKey n428{"n428", u"Английский"};
// The password dialog.
inline constexpr TextKey n429{"n429", u"Вход с паролем"};
inline constexpr TextKey n430{"n430", u"Пароль"};
inline constexpr TextKey n431{"n431", u"ОК"};
inline constexpr TextKey n432{"n432", u"Отмена"};
inline constexpr TextKey n433{"n433", u"Неверный пароль"};
// File dialogs of the profiles.
inline constexpr TextKey n434{"n434", u"Файлы конфигурации (*.ini)"};
inline constexpr TextKey n439{"n439", u"Текстовые файлы (*.txt)"};
inline constexpr TextKey n440{"n440", u"Сохранить профиль"};
inline constexpr TextKey n441{"n441", u"Открыть профиль"};

inline constexpr TextKey parityItems[] = {n424, n425, n426};
inline constexpr TextKey menuLanguageItems[] = {n427, n428};
} // namespace Msg
