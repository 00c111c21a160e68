#pragma once
#include <QStringList>

class GridView;
class QComboBox;
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
// New texts for a box's items. The line shows the new text of the chosen item; "---" or
// text typed over the choice stays as it is.
void SetItemTexts(QComboBox *box, const QStringList &texts);
