#pragma once
#include "LookupText.h"
#include "MainView.h"

#include <QFrame>
#include <QLabel>

class MemIniFile;
class QPushButton;

namespace Msg {
// The banner over the pages while the link cannot come up, and its button.
inline constexpr TextKey n390{"n390", u"Порт не выбран: укажите в настройках связи программы "
                                      u"порт, к которому подключен модуль."};
inline constexpr TextKey n391{"n391", u"Не удается открыть порт"};
inline constexpr TextKey n392{"n392", u"Проверьте, что адаптер подключен и порт не занят другой "
                                      u"программой, или выберите другой порт."};
inline constexpr TextKey n393{"n393", u"Модуль не отвечает на порту"};
inline constexpr TextKey n394{"n394", u"Проверьте питание модуля и кабель, адрес модуля и "
                                      u"скорость обмена в настройках связи."};
inline constexpr TextKey n395{"n395", u"Настройки связи..."};
// The status bar in monitoring-only mode, and its tool tip.
inline constexpr TextKey n396{"n396", u"Только просмотр: для изменения настроек перезапустите "
                                      u"программу и введите пароль"};
inline constexpr TextKey n397{
    "n397", u"Программа запущена без пароля: настройки контроллера можно смотреть, но не изменять "
            u"и не записывать, профили недоступны. Полный доступ дает пароль, который программа "
            u"спрашивает при запуске."};
} // namespace Msg

// Says in the window's body what keeps the link from coming up (no port chosen, a port that
// does not open, nobody answering), with a button to the connection settings. Hidden while
// there is nothing to say. Named "LinkProblemBanner"; its button "LinkProblemSettings".
class LinkProblemBanner : public QFrame {
    Q_OBJECT
public:
    LinkProblemBanner(const MemIniFile &texts, QWidget *parent = nullptr);

    void Show(MainView::LinkProblem problem, const QString &port, const QString &reason);
    void ApplyCaptions();
    MainView::LinkProblem problem() const { return m_problem; }

signals:
    void SettingsClicked();

private:
    const MemIniFile &m_texts;
    QLabel *m_text;
    QPushButton *m_button;
    MainView::LinkProblem m_problem = MainView::LinkProblem::None;
    QString m_port, m_reason;
};

// The permanent status-bar label of monitoring-only mode, named "AccessModeLabel".
class AccessModeLabel : public QLabel {
    Q_OBJECT
public:
    AccessModeLabel(const MemIniFile &texts, QWidget *parent = nullptr);
    void ApplyCaptions();

private:
    const MemIniFile &m_texts;
};
