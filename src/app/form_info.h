// TFormInfo: the splash at start (no border, on top, gone after three
// seconds) and the about window (a modal dialog "Info" with its OK button).
// A click on the picture opens the maker's page.
#pragma once

#include <QDialog>
#include <functional>

class QLabel;
class QPushButton;
class QTimer;

namespace kalmuro {

class TFormInfo : public QDialog {
    Q_OBJECT
public:
    enum TKind { Splash, About };
    TFormInfo(TKind kind, QWidget* owner = nullptr);

    // Runs on a click on the picture.
    std::function<void()> OnImageClick;

    QPushButton* BitBtn1() const { return FOk; }
    QTimer* Timer1() const { return FTimer; }
    QLabel* Image1() const { return FImage; }

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    QLabel* FImage = nullptr;
    QPushButton* FOk = nullptr;
    QTimer* FTimer = nullptr;
};

}  // namespace kalmuro
