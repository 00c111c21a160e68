#pragma once
#include <QString>

class GridView;
class QPlainTextEdit;
class QPushButton;

// Small builders the window and its pages share.

template <class W> W *named(W *w, const QString &name)
{
    w->setObjectName(name);
    return w;
}

QPushButton *namedButton(const char *name, const char *text);
// A read-only memo.
QPlainTextEdit *namedMemo(const char *name);
// A settings grid: 30-pixel rows, its own font size.
void settingsLook(GridView *g, int pixelSize, bool bold, int columnWidth);
