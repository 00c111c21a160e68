#include "LinkProblemBanner.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QStyle>

namespace {

// A warning's colours, readable in light and dark themes alike (the text is set dark).
void WarningLook(QWidget *w)
{
    w->setAutoFillBackground(true);
    QPalette p = w->palette();
    p.setColor(QPalette::Window, QColor(255, 243, 205));
    p.setColor(QPalette::WindowText, QColor(60, 40, 0));
    w->setPalette(p);
}

} // namespace

LinkProblemBanner::LinkProblemBanner(const MemIniFile &texts, QWidget *parent)
    : QFrame(parent), m_texts(texts)
{
    setObjectName(QStringLiteral("LinkProblemBanner"));
    setFrameShape(QFrame::StyledPanel);
    WarningLook(this);
    auto *row = new QHBoxLayout(this);
    auto *icon = new QLabel(this);
    const int size = style()->pixelMetric(QStyle::PM_MessageBoxIconSize, nullptr, this);
    const QIcon warning = style()->standardIcon(QStyle::SP_MessageBoxWarning, nullptr, this);
    icon->setPixmap(warning.pixmap(size));
    m_text = new QLabel(this);
    m_text->setObjectName(QStringLiteral("LinkProblemText"));
    m_text->setWordWrap(true);
    m_text->setTextInteractionFlags(Qt::TextSelectableByMouse);
    QFont f = m_text->font();
    f.setBold(true);
    m_text->setFont(f);
    m_button = new QPushButton(this);
    m_button->setObjectName(QStringLiteral("LinkProblemSettings"));
    m_button->setIcon(style()->standardIcon(QStyle::SP_ComputerIcon, nullptr, this));
    row->addWidget(icon, 0, Qt::AlignTop);
    row->addWidget(m_text, 1);
    row->addWidget(m_button, 0, Qt::AlignVCenter);
    connect(m_button, &QPushButton::clicked, this, &LinkProblemBanner::SettingsClicked);
    hide();
    ApplyCaptions();
}

void LinkProblemBanner::Show(MainView::LinkProblem problem, const QString &port,
                             const QString &reason)
{
    m_problem = problem;
    m_port = port;
    m_reason = reason;
    ApplyCaptions();
    setVisible(problem != MainView::LinkProblem::None);
}

void LinkProblemBanner::ApplyCaptions()
{
    m_button->setText(LookupText(m_texts, Msg::n395));
    auto first = [&](const TextKey &key) {
        QString line = LookupText(m_texts, key) + QStringLiteral(" ") + m_port;
        if (!m_reason.trimmed().isEmpty())
            line += QStringLiteral(": ") + m_reason.trimmed();
        return line;
    };
    QString text;
    switch (m_problem) {
    case MainView::LinkProblem::None:
        break;
    case MainView::LinkProblem::NoPort:
        text = LookupText(m_texts, Msg::n390);
        break;
    case MainView::LinkProblem::PortDoesNotOpen:
        text = first(Msg::n391) + u'\n' + LookupText(m_texts, Msg::n392);
        break;
    case MainView::LinkProblem::NoAnswer:
        text = first(Msg::n393) + u'\n' + LookupText(m_texts, Msg::n394);
        break;
    }
    m_text->setText(text);
}

AccessModeLabel::AccessModeLabel(const MemIniFile &texts, QWidget *parent)
    : QLabel(parent), m_texts(texts)
{
    setObjectName(QStringLiteral("AccessModeLabel"));
    setFrameShape(QFrame::StyledPanel);
    setMargin(2);
    WarningLook(this);
    ApplyCaptions();
}

void AccessModeLabel::ApplyCaptions()
{
    setText(LookupText(m_texts, Msg::n396));
    setToolTip(LookupText(m_texts, Msg::n397));
}
