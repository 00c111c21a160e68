#include "QorPage.h"

#include "MainState.h"

QorPage::QorPage(const QString &name, MainState &state, QWidget *parent)
    : QWidget(parent), m_state(state)
{
    setObjectName(name);
}

QString QorPage::Text(const char *key, const char *def) const
{
    return m_state.Text(key, QString::fromUtf8(def));
}
