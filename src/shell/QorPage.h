#pragma once
#include <QWidget>

class MainState;

// One page of PageControlQOR: its widgets (named as the window's description names them),
// its captions and its handlers. The page widget itself is the tab sheet.
class QorPage : public QWidget {
    Q_OBJECT
public:
    QorPage(const QString &name, MainState &state, QWidget *parent = nullptr);

    // The tab's caption in the current language.
    virtual QString Caption() const = 0;
    // Captions, hints and memos of the current language on the page's widgets.
    virtual void ApplyCaptions() = 0;
    // The page became the shown one: what it selects for the poll cycle and resets.
    virtual void Shown() = 0;
    // Monitoring only (no password): the user side of the page is hidden.
    virtual void ApplyAccessMode(bool full) { Q_UNUSED(full); }

protected:
    // The widget the page's controls go into: it scrolls inside the page when the window is
    // smaller than the page needs, so no page forces the window's size.
    QWidget *ScrolledBody();
    // The text of a language key, with its built-in default (UTF-8).
    QString Text(const char *key, const char *def) const;

    MainState &m_state;
};
