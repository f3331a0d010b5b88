// The settings dialog: the accounts grid with its three buttons, the rule-list
// buttons, the options, the four colour pickers, OK and Annulla. Everything it
// shows and writes is decided by the engine's TSetupDialog; the widgets only
// show it and report the user's changes.
#pragma once

#include <QDialog>
#include <array>

#include "engine/setup_dialog.h"

class QCheckBox;
class QLabel;
class QPushButton;
class QSpinBox;
class QTableWidget;

namespace kalmuro {

class TColorButton;
class TFormEditAccount;
class TFormMain;

class TFormSetup : public QDialog {
    Q_OBJECT
public:
    // Loads everything at once (errors are shown in the main window's error
    // box before the dialog appears).
    TFormSetup(TFormMain& form, QWidget* owner);

    TSetupDialog& Setup() { return FSetup; }

    QTableWidget* StringGridAccounts() const { return FGrid; }
    QPushButton* BitBtnAdd() const { return FBitBtnAdd; }
    QPushButton* BitBtnEdit() const { return FBitBtnEdit; }
    QPushButton* BitBtnDel() const { return FBitBtnDel; }
    QCheckBox* CheckBoxAutoCheck() const { return FCheckBoxAutoCheck; }
    QCheckBox* CheckBoxAutoCheckIcon() const { return FCheckBoxAutoCheckIcon; }
    QCheckBox* CheckBoxStartAtLogin() const { return FCheckBoxStartAtLogin; }
    QSpinBox* SpinEditAutoCheck() const { return FSpinEditAutoCheck; }
    QSpinBox* SpinEditTimeout() const { return FSpinEditTimeout; }
    QPushButton* BitBtnOk() const { return FBitBtnOk; }
    QPushButton* BitBtnAnnulla() const { return FBitBtnAnnulla; }
    // Normale, Selezionato, Bloccato, Sicuro.
    const std::array<TColorButton*, 4>& ColorButtons() const { return FColorButtons; }

    void BitBtnAddClick();
    void BitBtnEditClick();
    void BitBtnDelClick();

private:
    QWidget* BuildAccounts();
    QWidget* BuildSpamControl();
    QWidget* BuildOptions();
    QWidget* BuildColors();
    QCheckBox* AddCheckBox(QWidget* parent, const char* name, const char* caption,
                           const char* tip, bool TSetupOptions::*option);
    void FillAccountGrid();
    // The editor's sign-in runs through this dialog's engine.
    void PrepareEditor(TFormEditAccount& editor);
    void ShowOptions();
    void BitBtnOkClick();

    TSetupDialog FSetup;
    QTableWidget* FGrid = nullptr;
    QPushButton* FBitBtnAdd = nullptr;
    QPushButton* FBitBtnEdit = nullptr;
    QPushButton* FBitBtnDel = nullptr;
    QCheckBox* FCheckBoxAutoCheck = nullptr;
    QCheckBox* FCheckBoxAutoCheckIcon = nullptr;
    QCheckBox* FCheckBoxStartAtLogin = nullptr;
    QSpinBox* FSpinEditAutoCheck = nullptr;
    QSpinBox* FSpinEditTimeout = nullptr;
    std::vector<std::pair<QCheckBox*, bool TSetupOptions::*>> FOptionBoxes;
    std::array<TColorButton*, 4> FColorButtons{};
    QPushButton* FBitBtnOk = nullptr;
    QPushButton* FBitBtnAnnulla = nullptr;
    bool FFilling = false;
};

// Shows the settings dialog modally over the owner; true when the user
// confirmed it (the settings file then holds what the dialog wrote).
bool ExecuteSetupDialog(TFormMain& form, QWidget* owner);

}  // namespace kalmuro
