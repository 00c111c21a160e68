#include "Widgets.h"

#include "GridView.h"

#include <QComboBox>
#include <QHeaderView>
#include <QPlainTextEdit>
#include <QPushButton>

QPushButton *namedButton(const char *name, const char *text)
{
    return named(new QPushButton(QString::fromUtf8(text)), QString::fromLatin1(name));
}

QPlainTextEdit *namedMemo(const char *name)
{
    auto *m = named(new QPlainTextEdit, QString::fromLatin1(name));
    m->setReadOnly(true);
    return m;
}

void settingsLook(GridView *g, int pixelSize, bool bold, int columnWidth)
{
    QFont f = g->font();
    f.setPixelSize(pixelSize);
    f.setBold(bold);
    g->setFont(f);
    g->horizontalHeader()->setFont(f);
    g->setDefaultRowHeight(30);
    g->setDefaultColumnWidth(columnWidth);
}

void SetItemTexts(QComboBox *box, const QStringList &texts)
{
    const int current = box->currentIndex();
    const QString shown = box->currentText();
    const bool showsItem = current >= 0 && shown == box->itemText(current);
    for (int i = 0; i < texts.size() && i < box->count(); ++i)
        box->setItemText(i, texts[i]);
    if (box->isEditable())
        box->setEditText(showsItem ? box->itemText(current) : shown);
}
