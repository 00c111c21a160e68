#include "FrameLogModel.h"

#include "LookupText.h"
#include "ModbusFrames.h"

#include <QDateTime>

FrameLogModel::FrameLogModel(const FrameLog &log, const MemIniFile &settings, QObject *parent)
    : QAbstractTableModel(parent), m_log(log), m_settings(settings) {
    ApplyTexts();
    rebuild();
}

void FrameLogModel::ApplyTexts() {
    auto t = [&](const char *key, const char16_t *russian) {
        return LookupText(m_settings, key, QString::fromUtf16(russian));
    };
    m_headers[Time] = t("n317", u"Время");
    m_headers[Direction] = t("n318", u"Направление");
    m_headers[Function] = t("n319", u"Функция");
    m_headers[Start] = t("n320", u"Начало");
    m_headers[Count] = t("n321", u"Количество");
    m_headers[Bytes] = t("n322", u"Кадр");
    m_headers[Failure] = t("n323", u"Ошибка");
    m_request = t("n324", u"Запрос");
    m_answer = t("n325", u"Ответ");
    m_read = t("n330", u"чтение регистров");
    m_writeOne = t("n331", u"запись регистра");
    m_writeMany = t("n332", u"запись регистров");
    m_exception = t("n333", u"исключение");
    if (!m_rows.empty())
        emit dataChanged(index(0, 0), index(rowCount() - 1, ColumnCount - 1));
    emit headerDataChanged(Qt::Horizontal, 0, ColumnCount - 1);
}

bool FrameLogModel::shown(const FrameLog::Frame &f) const {
    return !m_failuresOnly || f.outcome != AttemptOutcome::Good;
}

void FrameLogModel::rebuild() {
    beginResetModel();
    m_rows.clear();
    for (quint64 s = m_log.firstSeq(); s < m_log.nextSeq(); ++s)
        if (shown(m_log.at(s)))
            m_rows.push_back(m_log.at(s));
    m_seen = m_log.nextSeq();
    endResetModel();
}

void FrameLogModel::Refresh() {
    if (m_paused)
        return;
    const quint64 first = m_log.firstSeq(), next = m_log.nextSeq();
    if (next < m_seen) // the log was cleared
        return rebuild();
    int drop = 0;
    while (drop < int(m_rows.size()) && m_rows[size_t(drop)].seq < first)
        ++drop;
    if (drop > 0) {
        beginRemoveRows(QModelIndex(), 0, drop - 1);
        m_rows.erase(m_rows.begin(), m_rows.begin() + drop);
        endRemoveRows();
    }
    std::vector<const FrameLog::Frame *> added;
    for (quint64 s = qMax(m_seen, first); s < next; ++s)
        if (shown(m_log.at(s)))
            added.push_back(&m_log.at(s));
    m_seen = next;
    if (added.empty())
        return;
    const int at = rowCount();
    beginInsertRows(QModelIndex(), at, at + int(added.size()) - 1);
    for (const FrameLog::Frame *f : added)
        m_rows.push_back(*f);
    endInsertRows();
}

void FrameLogModel::setPaused(bool paused) {
    m_paused = paused;
    if (!paused)
        Refresh();
}

void FrameLogModel::setFailuresOnly(bool on) {
    if (on == m_failuresOnly)
        return;
    m_failuresOnly = on;
    if (m_paused) {
        // Paused, the filter works on what is shown: nothing new comes in.
        beginResetModel();
        std::deque<FrameLog::Frame> kept;
        for (const FrameLog::Frame &f : m_rows)
            if (shown(f))
                kept.push_back(f);
        m_rows.swap(kept);
        endResetModel();
        return;
    }
    rebuild();
}

int FrameLogModel::rowCount(const QModelIndex &parent) const {
    return parent.isValid() ? 0 : int(m_rows.size());
}

int FrameLogModel::columnCount(const QModelIndex &parent) const {
    return parent.isValid() ? 0 : ColumnCount;
}

QString FrameLogModel::functionText(int function) const {
    const QString code = QString::number(function, 16).toUpper().rightJustified(2, u'0');
    if (function & ModbusFrame::ExceptionFlag)
        return code + u' ' + m_exception;
    switch (function) {
    case ModbusFrame::ReadHolding:
        return code + u' ' + m_read;
    case ModbusFrame::WriteSingle:
        return code + u' ' + m_writeOne;
    case ModbusFrame::WriteMultiple:
        return code + u' ' + m_writeMany;
    default:
        return code;
    }
}

QString FrameLogModel::cellText(const FrameLog::Frame &f, int column, bool withDate) const {
    const bool request = f.direction == FrameLog::Direction::Request;
    switch (column) {
    case Time:
        return QDateTime::fromMSecsSinceEpoch(f.timeMs).toString(
            withDate ? QStringLiteral("yyyy-MM-dd hh:mm:ss.zzz") : QStringLiteral("hh:mm:ss.zzz"));
    case Direction:
        return request ? m_request : m_answer;
    case Bytes:
        return QString::fromLatin1(f.bytes.toHex(' ').toUpper());
    case Failure:
        return FailureText(m_settings, f.failure);
    default:
        break;
    }
    // Noise makes no frame: its bytes would read as a made-up function.
    if (!request && f.outcome == AttemptOutcome::Noise)
        return QString();
    const DecodedFrame d = request ? DecodeRequest(f.bytes) : DecodeAnswer(f.bytes, f.request);
    switch (column) {
    case Function:
        if (d.function < 0)
            return QString();
        return d.exceptionCode >= 0 ? functionText(d.function) + u' ' +
                                          QString::number(d.exceptionCode, 16).toUpper()
                                    : functionText(d.function);
    case Start:
        return d.start < 0 ? QString()
                           : QStringLiteral("0x") +
                                 QString::number(d.start, 16).toUpper().rightJustified(4, u'0');
    case Count:
        return d.count < 0 ? QString() : QString::number(d.count);
    default:
        return QString();
    }
}

QVariant FrameLogModel::data(const QModelIndex &index, int role) const {
    if (!index.isValid() || index.row() >= rowCount() || index.column() >= ColumnCount)
        return QVariant();
    const FrameLog::Frame &f = m_rows[size_t(index.row())];
    switch (role) {
    case Qt::DisplayRole:
        return cellText(f, index.column(), false);
    case FailureRole:
        return f.outcome != AttemptOutcome::Good;
    case Qt::ToolTipRole: // a long frame or text does not fit its cell
        if (index.column() == Bytes || index.column() == Failure)
            return cellText(f, index.column(), false);
        return QVariant();
    case Qt::TextAlignmentRole:
        if (index.column() == Count)
            return int(Qt::AlignRight | Qt::AlignVCenter);
        return QVariant();
    default:
        return QVariant();
    }
}

QVariant FrameLogModel::headerData(int section, Qt::Orientation orientation, int role) const {
    if (role != Qt::DisplayRole)
        return QVariant();
    if (orientation == Qt::Vertical)
        return section + 1;
    return section >= 0 && section < ColumnCount ? m_headers[section] : QString();
}

QString FrameLogModel::RowText(int row, bool withDate) const {
    if (row < 0 || row >= rowCount())
        return QString();
    QStringList cells;
    for (int c = 0; c < ColumnCount; ++c)
        cells << cellText(m_rows[size_t(row)], c, withDate);
    return cells.join(u'\t');
}

QString FrameLogModel::HeaderText() const {
    QStringList cells;
    for (const QString &h : m_headers)
        cells << h;
    return cells.join(u'\t');
}
