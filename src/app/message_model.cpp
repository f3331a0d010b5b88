#include "app/message_model.h"

#include <QBrush>
#include <QColor>
#include <exception>

#include "app/plain_text.h"
#include "app/qt_text.h"
#include "engine/form_main.h"

namespace kalmuro {

namespace {
constexpr const char* kCheckBoxName = "Da eliminare";
}

QColor ColorFromSettings(int32_t value) {
    const auto bits = static_cast<uint32_t>(value);
    return QColor(static_cast<int>(bits & 0xFF), static_cast<int>((bits >> 8) & 0xFF),
                  static_cast<int>((bits >> 16) & 0xFF));
}

TMessageModel::TMessageModel(QObject* parent) : QAbstractTableModel(parent) {
    FBatchTimer.setSingleShot(true);
    FBatchTimer.setInterval(kBatchMs);
    connect(&FBatchTimer, &QTimer::timeout, this, &TMessageModel::FlushAppended);
    FSinceFlush.start();
}

int TMessageModel::rowCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : FRows;
}

int TMessageModel::columnCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : kColumnCount;
}

bool TMessageModel::Valid(const QModelIndex& index) const {
    return FForm != nullptr && index.isValid() && index.row() < FRows &&
           static_cast<size_t>(index.row()) < FForm->List().Rows.size();
}

QVariant TMessageModel::data(const QModelIndex& index, int role) const {
    if (!Valid(index)) return QVariant();
    const int row = index.row();
    const int column = index.column();
    const TMessageRow& r = FForm->List().Rows[static_cast<size_t>(row)];
    switch (role) {
        case Qt::DisplayRole:
            // Header values are untrusted; a view shows display text as
            // written, never as markup.
            return Win1252ToQString(column == 0 ? std::string(kRowCaption)
                                                : r.Columns[static_cast<size_t>(column - 1)]);
        case Qt::CheckStateRole:
            if (column == 0) return r.Checked ? Qt::Checked : Qt::Unchecked;
            return QVariant();
        case Qt::ForegroundRole: {
            const int32_t color = FForm->RowTextColor(row);
            if (color < 0) return QVariant();
            return QBrush(ColorFromSettings(color));
        }
        case Qt::TextAlignmentRole:
            if (column == 1 + mcSize)
                return QVariant::fromValue(Qt::Alignment(Qt::AlignRight | Qt::AlignVCenter));
            return QVariant::fromValue(Qt::Alignment(Qt::AlignLeft | Qt::AlignVCenter));
        case Qt::ToolTipRole: {
            const QString tip = PlainToolTip(DisplayText(FForm->RowTip(row)));
            if (tip.isEmpty()) return QVariant();
            return tip;
        }
        // A screen reader names the check box by what it does (its caption
        // is a blank) and reads the row's tip as plain text.
        case Qt::AccessibleTextRole:
            if (column == 0) return QString::fromLatin1(kCheckBoxName);
            return QVariant();
        case Qt::AccessibleDescriptionRole: {
            const QString tip = OneLine(DisplayText(FForm->RowTip(row)));
            if (tip.isEmpty()) return QVariant();
            return tip;
        }
        default:
            return QVariant();
    }
}

bool TMessageModel::setData(const QModelIndex& index, const QVariant& value, int role) {
    if (role != Qt::CheckStateRole || index.column() != 0 || !Valid(index)) return false;
    const bool checked = value.toInt() == Qt::Checked;
    try {
        FForm->SetRowChecked(index.row(), checked);
    } catch (const std::exception& e) {
        FForm->ReportError(e);
    }
    return true;
}

Qt::ItemFlags TMessageModel::flags(const QModelIndex& index) const {
    if (!index.isValid()) return Qt::NoItemFlags;
    Qt::ItemFlags flags = Qt::ItemIsEnabled | Qt::ItemIsSelectable | Qt::ItemNeverHasChildren;
    if (index.column() == 0) flags |= Qt::ItemIsUserCheckable;
    return flags;
}

QVariant TMessageModel::headerData(int section, Qt::Orientation orientation, int role) const {
    if (orientation != Qt::Horizontal || section < 0 || section >= kColumnCount)
        return QVariant();
    // Captions keep to the left, so a narrow column cuts their end, not
    // their start.
    if (role == Qt::DisplayRole) return Win1252ToQString(kColumnCaptions[static_cast<size_t>(section)]);
    if (role == Qt::AccessibleTextRole && section == 0) return QString::fromLatin1(kCheckBoxName);
    return QVariant();
}

void TMessageModel::RowsReset() {
    FBatchTimer.stop();
    beginResetModel();
    FRows = 0;
    ++FResets;
    endResetModel();
}

void TMessageModel::RowsAppended(int32_t first, int32_t count) {
    if (count <= 0) return;
    if (first < FRows) {
        // Not the tail the views know: start them again from the list.
        FBatchTimer.stop();
        beginResetModel();
        FRows = FForm != nullptr ? static_cast<int>(FForm->List().Rows.size()) : 0;
        ++FResets;
        endResetModel();
        return;
    }
    // A list filled from empty shows at once; rows that follow shortly
    // after wait for the batch.
    if (first == 0 || (FSinceFlush.elapsed() >= kBatchMs && !FBatchTimer.isActive()))
        FlushAppended();
    else if (!FBatchTimer.isActive())
        FBatchTimer.start();
}

void TMessageModel::FlushAppended() {
    FBatchTimer.stop();
    FSinceFlush.restart();
    const int rows = FForm != nullptr ? static_cast<int>(FForm->List().Rows.size()) : 0;
    if (rows <= FRows) return;
    beginInsertRows(QModelIndex(), FRows, rows - 1);
    FRows = rows;
    endInsertRows();
}

void TMessageModel::RowChanged(int32_t row) {
    if (row >= FRows) FlushAppended();
    if (row < 0 || row >= FRows) return;
    Q_EMIT dataChanged(index(row, 0), index(row, kColumnCount - 1));
}

void TMessageModel::RowsRepaint() {
    FlushAppended();
    if (FRows > 0) Q_EMIT dataChanged(index(0, 0), index(FRows - 1, kColumnCount - 1));
}

}  // namespace kalmuro
