// The message list's model: a view over the engine's rows, never a copy of
// them. Cells are read when a view draws them, so a list of 10,000 rows
// costs only what is on screen, and a tick written here goes straight to the
// engine (which tells every view back).
#pragma once

#include <QAbstractTableModel>
#include <QElapsedTimer>
#include <QTimer>
#include <cstdint>
#include <functional>

namespace kalmuro {

class TFormMain;

class TMessageModel : public QAbstractTableModel {
    Q_OBJECT
public:
    explicit TMessageModel(QObject* parent = nullptr);
    void Attach(TFormMain* form) { FForm = form; }

    int rowCount(const QModelIndex& parent = QModelIndex()) const override;
    int columnCount(const QModelIndex& parent = QModelIndex()) const override;
    QVariant data(const QModelIndex& index, int role) const override;
    bool setData(const QModelIndex& index, const QVariant& value, int role) override;
    Qt::ItemFlags flags(const QModelIndex& index) const override;
    QVariant headerData(int section, Qt::Orientation orientation, int role) const override;

    // The engine's notifications (see TScreen).
    void RowsReset();
    void RowsAppended(int32_t first, int32_t count);
    void RowChanged(int32_t row);
    void RowsRepaint();

    // How often the whole model was reset: a scroll or a repaint must not
    // add to it.
    int64_t ResetCount() const { return FResets; }
    // Tells the views of rows the engine appended since the last time.
    void FlushAppended();
    // Asked before appended rows wait for a batch: true while the rows the
    // views know already reach below the visible part of the list, so that
    // new rows would only change the scroll bar. They then wait
    // kOutOfSightMs instead of kBatchMs: each batch costs the view a layout
    // of every row and a repaint of every visible cell.
    std::function<bool()> TailOutOfSight;
    // How long rows appended now wait before the views hear of them.
    int BatchMs() const;
    static constexpr int kBatchMs = 40;
    static constexpr int kOutOfSightMs = 250;

private:
    bool Valid(const QModelIndex& index) const;

    TFormMain* FForm = nullptr;
    // The rows the views know of; the engine's list may be ahead of it only
    // between its change and the notification that follows at once.
    int FRows = 0;
    int64_t FResets = 0;
    // Rows appended one by one during a check reach the views in batches,
    // at most every BatchMs(): a view lays out all its rows again for every
    // insertion, which one row at a time would make quadratic.
    QTimer FBatchTimer;
    QElapsedTimer FSinceFlush;
};

// 0x00BBGGRR, as the settings keep a colour.
QColor ColorFromSettings(int32_t value);

}  // namespace kalmuro
