#include "FrameLogView.h"

#include "AtomicFile.h"
#include "FrameLogModel.h"
#include "MainState.h"
#include "Message.h"
#include "Widgets.h"

#include <QApplication>
#include <QCheckBox>
#include <QClipboard>
#include <QFileDialog>
#include <QFontDatabase>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QPushButton>
#include <QScrollBar>
#include <QStyledItemDelegate>
#include <QTableView>
#include <QVBoxLayout>

#include <set>

namespace {

constexpr int kRefreshMs = 300;

// Rows of failed attempts in red.
class FailureDelegate : public QStyledItemDelegate {
public:
    using QStyledItemDelegate::QStyledItemDelegate;

protected:
    void initStyleOption(QStyleOptionViewItem *option, const QModelIndex &index) const override {
        QStyledItemDelegate::initStyleOption(option, index);
        if (index.data(FrameLogModel::FailureRole).toBool())
            option->palette.setColor(QPalette::Text, QColor(190, 0, 0));
    }
};

} // namespace

FrameLogView::FrameLogView(MainState &state, QWidget *parent)
    : QWidget(parent, Qt::Window), m_state(state) {
    setObjectName(QStringLiteral("FrameLogView"));
    m_model = new FrameLogModel(state.modbus.frameLog(), state.settingsIni, this);

    ButtonFrameLogPause = named(new QPushButton(this), QStringLiteral("ButtonFrameLogPause"));
    ButtonFrameLogPause->setCheckable(true);
    CheckBoxFrameLogFailuresOnly =
        named(new QCheckBox(this), QStringLiteral("CheckBoxFrameLogFailuresOnly"));
    ButtonFrameLogCopy = named(new QPushButton(this), QStringLiteral("ButtonFrameLogCopy"));
    ButtonFrameLogSave = named(new QPushButton(this), QStringLiteral("ButtonFrameLogSave"));
    auto *bar = new QHBoxLayout;
    bar->addWidget(ButtonFrameLogPause);
    bar->addWidget(CheckBoxFrameLogFailuresOnly);
    bar->addStretch();
    bar->addWidget(ButtonFrameLogCopy);
    bar->addWidget(ButtonFrameLogSave);

    TableFrameLog = named(new QTableView(this), QStringLiteral("TableFrameLog"));
    TableFrameLog->setModel(m_model);
    TableFrameLog->setItemDelegate(new FailureDelegate(TableFrameLog));
    TableFrameLog->setSelectionBehavior(QAbstractItemView::SelectRows);
    TableFrameLog->setSelectionMode(QAbstractItemView::ExtendedSelection);
    TableFrameLog->setEditTriggers(QAbstractItemView::NoEditTriggers);
    TableFrameLog->setWordWrap(false);
    TableFrameLog->verticalHeader()->setDefaultSectionSize(TableFrameLog->fontMetrics().height() +
                                                           4);
    TableFrameLog->verticalHeader()->hide();
    QFont mono = QFontDatabase::systemFont(QFontDatabase::FixedFont);
    TableFrameLog->setFont(mono);
    TableFrameLog->setAlternatingRowColors(true);
    TableFrameLog->horizontalHeader()->setStretchLastSection(true);

    auto *top = new QVBoxLayout(this);
    top->addLayout(bar);
    top->addWidget(TableFrameLog, 1);

    connect(ButtonFrameLogPause, &QPushButton::toggled, this, [this](bool paused) {
        const bool follow = m_followEnd;
        m_model->setPaused(paused);
        if (follow)
            TableFrameLog->scrollToBottom();
    });
    // Rows added or dropped move the range, not the value: only scrolling changes this.
    QScrollBar *scroll = TableFrameLog->verticalScrollBar();
    connect(scroll, &QScrollBar::valueChanged, this,
            [this, scroll](int value) { m_followEnd = value >= scroll->maximum(); });
    connect(CheckBoxFrameLogFailuresOnly, &QCheckBox::toggled, this, [this](bool on) {
        m_model->setFailuresOnly(on);
        TableFrameLog->scrollToBottom(); // and so follows what comes
    });
    connect(ButtonFrameLogCopy, &QPushButton::clicked, this, &FrameLogView::CopySelected);
    connect(ButtonFrameLogSave, &QPushButton::clicked, this, &FrameLogView::AskFileToSave);
    m_refresh.setInterval(kRefreshMs);
    connect(&m_refresh, &QTimer::timeout, this, &FrameLogView::Refresh);
    ApplyCaptions();
    resize(1380, 560);
}

void FrameLogView::ApplyCaptions() {
    auto t = [&](const char *key, const char16_t *russian) {
        return m_state.Text(key, QString::fromUtf16(russian));
    };
    m_model->ApplyTexts();
    setWindowTitle(t("n301", u"Журнал кадров"));
    // Wide enough for the widest cell a column usually holds and for its header text.
    QHeaderView *h = TableFrameLog->horizontalHeader();
    const int digit = TableFrameLog->fontMetrics().horizontalAdvance(u'0');
    const int widths[] = {13, 7, 2, 5, 21, 7, 4, 36}; // characters of the cells
    for (int c = 0; c < FrameLogModel::Failure; ++c) {
        const int header =
            h->fontMetrics().horizontalAdvance(m_model->headerData(c, Qt::Horizontal).toString()) +
            20;
        h->resizeSection(c, qMax(widths[c] * digit + 12, header));
    }
    ButtonFrameLogPause->setText(t("n326", u"Пауза"));
    CheckBoxFrameLogFailuresOnly->setText(t("n327", u"Только ошибки"));
    ButtonFrameLogCopy->setText(t("n328", u"Копировать"));
    ButtonFrameLogSave->setText(t("n329", u"Сохранить..."));
}

void FrameLogView::Refresh() {
    // Follow the newest frame only when the user is looking at the end. Where the user
    // looks is kept as it is scrolled, not read off the bar here: rows that came in another
    // way (going on after a pause or a save) have moved the end away from it meanwhile.
    const bool follow = m_followEnd;
    m_model->Refresh();
    if (follow)
        TableFrameLog->scrollToBottom();
}

void FrameLogView::showEvent(QShowEvent *event) {
    QWidget::showEvent(event);
    Refresh();
    TableFrameLog->scrollToBottom();
    m_refresh.start();
}

void FrameLogView::hideEvent(QHideEvent *event) {
    m_refresh.stop();
    QWidget::hideEvent(event);
}

QString FrameLogView::SelectedText() const {
    std::set<int> rows;
    for (const QModelIndex &i : TableFrameLog->selectionModel()->selectedIndexes())
        rows.insert(i.row());
    QStringList lines;
    for (int r : rows)
        lines << m_model->RowText(r, true);
    return lines.isEmpty() ? QString() : lines.join(u'\n') + u'\n';
}

void FrameLogView::CopySelected() {
    const QString text = SelectedText();
    if (!text.isEmpty())
        QApplication::clipboard()->setText(text);
}

bool FrameLogView::SaveTo(const QString &path, QString *error) const {
    QStringList lines{m_model->HeaderText()};
    for (int r = 0; r < m_model->rowCount(); ++r)
        lines << m_model->RowText(r, true);
#ifdef Q_OS_WIN
    const QString lineEnd = QStringLiteral("\r\n");
#else
    const QString lineEnd = QStringLiteral("\n");
#endif
    // The byte order mark says UTF-8 to editors and spreadsheets that would guess the
    // system's code page. A save cut short by a full disk is reported, never kept as the
    // whole log.
    return WriteFileAtomically(path, "\xEF\xBB\xBF" + (lines.join(lineEnd) + lineEnd).toUtf8(),
                               error);
}

void FrameLogView::AskFileToSave() {
    auto t = [&](const char *key, const char16_t *russian) {
        return m_state.Text(key, QString::fromUtf16(russian));
    };
    auto *dialog = new QFileDialog(this, t("n329", u"Сохранить..."));
    dialog->setObjectName(QStringLiteral("FrameLogSaveDialog"));
    dialog->setAttribute(Qt::WA_DeleteOnClose);
    dialog->setAcceptMode(QFileDialog::AcceptSave);
    dialog->setNameFilter(t("n335", u"Текстовые файлы, UTF-8 (*.txt)"));
    dialog->setDefaultSuffix(QStringLiteral("txt"));
    dialog->selectFile(QStringLiteral("frames.txt"));
    // What is shown now is what is saved, however long the user takes to choose the name.
    m_model->setPaused(true);
    connect(dialog, &QFileDialog::finished, this, [this, dialog, t](int result) {
        const QStringList files = dialog->selectedFiles();
        QString error;
        if (result == QDialog::Accepted && !files.isEmpty() && !SaveTo(files.first(), &error))
            ShowMessageBox(t("n67", u"Ошибка"),
                           t("n336", u"Ошибка записи файла: ") + files.first() + u'\n' + error,
                           MessageIcon::Error);
        const bool follow = m_followEnd;
        m_model->setPaused(ButtonFrameLogPause->isChecked());
        if (follow)
            TableFrameLog->scrollToBottom();
    });
    dialog->open();
}
