#pragma once
#include "LookupText.h"

#include <QDialog>

class MainState;
class QLabel;
class QPushButton;
class QTextBrowser;

namespace Msg {
inline constexpr TextKey n370{"n370", u"О программе"};
inline constexpr TextKey n371{"n371", u"Справка"};
inline constexpr TextKey n372{"n372", u"Версия программы"};
inline constexpr TextKey n373{"n373", u"Версия Qt"};
inline constexpr TextKey n374{"n374", u"Лицензия"};
// The licence as the package's copyright file states it.
inline constexpr TextKey n375{
    "n375", u"Программа не является свободной, все права защищены. Копирование, изменение, "
            u"сублицензирование и распространение программ velmaris, velmaris-cli и "
            u"qor7070-sim, их файлов данных и документации без предварительного письменного "
            u"разрешения разработчиков Velmaris запрещены, кроме установки и запуска пакета."};
inline constexpr TextKey n376{"n376", u"Рабочая папка (start.ini, профили, тренды)"};
inline constexpr TextKey n377{"n377", u"Открыть папку"};
inline constexpr TextKey n378{"n378", u"Закрыть"};
inline constexpr TextKey n379{"n379", u"Файл справки не найден"};
} // namespace Msg

// "О программе": the version, the Qt it runs on, the licence and the working folder in use,
// with a button that opens that folder in the desktop's file manager.
class AboutDialog : public QDialog {
    Q_OBJECT
public:
    AboutDialog(MainState &state, QWidget *parent);
    void ApplyCaptions();
    // The folder start.ini is read from and written to.
    QString WorkingFolder() const;

private:
    void OpenFolder();

    MainState &m_state;
    QLabel *m_text;
    QPushButton *m_open, *m_close;
};

// F1: the user's guide. help.html is made from the README's user section at build time;
// the copy installed beside start.ini is shown, else the one built into the program.
class HelpDialog : public QDialog {
    Q_OBJECT
public:
    HelpDialog(MainState &state, QWidget *parent);
    void ApplyCaptions();
    static QString HelpFile();

private:
    MainState &m_state;
    QTextBrowser *m_browser;
};
