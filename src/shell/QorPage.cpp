#include "QorPage.h"

#include "MainState.h"

#include <QScrollArea>
#include <QVBoxLayout>

QorPage::QorPage(const QString &name, MainState &state, QWidget *parent)
    : QWidget(parent), m_state(state)
{
    setObjectName(name);
}

QString QorPage::Text(const char *key, const char *def) const
{
    return m_state.Text(key, QString::fromUtf8(def));
}

QWidget *QorPage::ScrolledBody()
{
    auto *scroll = new QScrollArea(this);
    scroll->setObjectName(objectName() + QStringLiteral("Scroll"));
    scroll->setFrameShape(QFrame::NoFrame);
    scroll->setWidgetResizable(true);
    auto *body = new QWidget;
    scroll->setWidget(body);
    auto *outer = new QVBoxLayout(this);
    outer->setContentsMargins(0, 0, 0, 0);
    outer->addWidget(scroll);
    return body;
}
