#include "Desktop.h"

#include "MainState.h"
#include "ShippedData.h"
#include "Widgets.h"

#include <QDesktopServices>
#include <QDialogButtonBox>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QLabel>
#include <QPushButton>
#include <QTextBrowser>
#include <QUrl>
#include <QVBoxLayout>

AboutDialog::AboutDialog(MainState &state, QWidget *parent) : QDialog(parent), m_state(state)
{
    setObjectName(QStringLiteral("AboutDialog"));
    auto *layout = new QVBoxLayout(this);
    m_text = named(new QLabel(this), "LabelAbout");
    m_text->setWordWrap(true);
    m_text->setTextInteractionFlags(Qt::TextSelectableByMouse);
    m_text->setTextFormat(Qt::RichText);
    m_text->setMinimumWidth(460);
    layout->addWidget(m_text);
    auto *buttons = new QDialogButtonBox(this);
    m_open = named(buttons->addButton(QString(), QDialogButtonBox::ActionRole), "ButtonOpenFolder");
    m_close = named(buttons->addButton(QString(), QDialogButtonBox::RejectRole), "ButtonAboutClose");
    layout->addWidget(buttons);
    connect(m_open, &QPushButton::clicked, this, &AboutDialog::OpenFolder);
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
    ApplyCaptions();
}

QString AboutDialog::WorkingFolder() const
{
    return QDir::toNativeSeparators(QFileInfo(m_state.settingsIni.fileName()).absolutePath());
}

void AboutDialog::ApplyCaptions()
{
    setWindowTitle(m_state.Text(Msg::n370));
    const auto line = [](const QString &label, const QString &value) {
        return QStringLiteral("<p><b>%1:</b> %2</p>").arg(label.toHtmlEscaped(), value.toHtmlEscaped());
    };
    m_text->setText(QStringLiteral("<h2>Velmaris</h2>") +
                    line(m_state.Text(Msg::n372), QStringLiteral(VELMARIS_VERSION)) +
                    line(m_state.Text(Msg::n373), QString::fromLatin1(qVersion())) +
                    line(m_state.Text(Msg::n374), m_state.Text(Msg::n375)) +
                    line(m_state.Text(Msg::n376), WorkingFolder()));
    m_open->setText(m_state.Text(Msg::n377));
    m_close->setText(m_state.Text(Msg::n378));
}

void AboutDialog::OpenFolder()
{
    QDesktopServices::openUrl(QUrl::fromLocalFile(QFileInfo(m_state.settingsIni.fileName()).absolutePath()));
}

HelpDialog::HelpDialog(MainState &state, QWidget *parent) : QDialog(parent), m_state(state)
{
    setObjectName(QStringLiteral("HelpDialog"));
    setWindowFlag(Qt::WindowMaximizeButtonHint);
    auto *layout = new QVBoxLayout(this);
    m_browser = named(new QTextBrowser(this), "TextBrowserHelp");
    m_browser->setOpenExternalLinks(true);
    layout->addWidget(m_browser);
    auto *buttons = new QDialogButtonBox(QDialogButtonBox::Close, this);
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
    layout->addWidget(buttons);
    resize(820, 640);
    QFile file(HelpFile());
    if (file.open(QIODevice::ReadOnly))
        m_browser->setHtml(QString::fromUtf8(file.readAll()));
    else
        m_browser->setPlainText(m_state.Text(Msg::n379) + QStringLiteral(": ") + HelpFile());
    ApplyCaptions();
}

QString HelpDialog::HelpFile()
{
    const QString shipped = ShippedDataDir() + QStringLiteral("/help.html");
    return !ShippedDataDir().isEmpty() && QFileInfo::exists(shipped) ? shipped
                                                                      : QStringLiteral(":/help.html");
}

void HelpDialog::ApplyCaptions()
{
    setWindowTitle(m_state.Text(Msg::n371) + QStringLiteral(" — Velmaris"));
}
