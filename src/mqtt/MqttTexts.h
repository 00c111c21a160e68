#pragma once
#include "LookupText.h"

// The MQTT bridge's messages (keys n710-n739; English in start.ini [lang1]).
namespace Msg {
// "<n710><url>"
inline constexpr TextKey n710{"n710", u"Неверный адрес брокера MQTT (нужно mqtt://хост:порт или mqtts://хост:порт): "};
// "<n711><path>"
inline constexpr TextKey n711{"n711", u"Файл пароля MQTT не прочитан: "};
// "<n712><path>"
inline constexpr TextKey n712{"n712", u"Файл пароля MQTT доступен другим пользователям (нужно chmod 600): "};
// "<n713><path>"
inline constexpr TextKey n713{"n713", u"Не найден сертификат центра для MQTT: "};
inline constexpr TextKey n714{"n714", u"MQTT: подключено к "};
inline constexpr TextKey n715{"n715", u"MQTT: нет связи с брокером, повтор через "};
inline constexpr TextKey n716{"n716", u"MQTT: брокер отказал во входе (имя или пароль)"};
inline constexpr TextKey n717{"n717", u"MQTT: ошибка TLS: "};
inline constexpr TextKey n718{"n718", u"MQTT: подключение к "};
inline constexpr TextKey n719{"n719", u"Для имени пользователя MQTT нужен файл пароля"};
inline constexpr TextKey n720{"n720", u"Неверный префикс тем MQTT (без +, # и пустых уровней): "};
inline constexpr TextKey n721{"n721", u"Качество обслуживания MQTT должно быть 0, 1 или 2, а не "};
inline constexpr TextKey n722{"n722", u" с"};
inline constexpr TextKey n723{"n723", u"MQTT выключен"};
} // namespace Msg
