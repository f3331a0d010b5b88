// The account editor: seven controls and two buttons, no logic of its own.
// The settings dialog fills it from an account and reads the account back;
// nothing typed is checked or trimmed.
#pragma once

#include <QDialog>

#include "mail/accounts.h"

class QCheckBox;
class QComboBox;
class QFormLayout;
class QLineEdit;
class QPushButton;

namespace kalmuro {

class TFormEditAccount : public QDialog {
    Q_OBJECT
public:
    explicit TFormEditAccount(QWidget* owner);

    void SetAccount(const TMailAccount& account);
    TMailAccount Account() const;

    QLineEdit* EditAccount() const { return FEditAccount; }
    QLineEdit* EditServer() const { return FEditServer; }
    QLineEdit* EditPorta() const { return FEditPorta; }
    QCheckBox* CheckBoxAPOP() const { return FCheckBoxAPOP; }
    QLineEdit* EditUser() const { return FEditUser; }
    QLineEdit* EditPwd() const { return FEditPwd; }
    QCheckBox* CheckBoxIsAttivo() const { return FCheckBoxIsAttivo; }
    QComboBox* ComboBoxSicurezza() const { return FComboBoxSicurezza; }
    QPushButton* BitBtnOk() const { return FBitBtnOk; }
    QPushButton* BitBtnAnnulla() const { return FBitBtnAnnulla; }
    // One row per field, label on the left: a new field is one more row.
    QFormLayout* Fields() const { return FFields; }

private:
    QFormLayout* FFields = nullptr;
    QLineEdit* FEditAccount = nullptr;
    QLineEdit* FEditServer = nullptr;
    QLineEdit* FEditPorta = nullptr;
    QCheckBox* FCheckBoxAPOP = nullptr;
    QLineEdit* FEditUser = nullptr;
    QLineEdit* FEditPwd = nullptr;
    QCheckBox* FCheckBoxIsAttivo = nullptr;
    QComboBox* FComboBoxSicurezza = nullptr;
    // The account as it came in: what the editor has no control for (the
    // accepted certificate, where it was stored) goes back out unchanged.
    TMailAccount FAccount;
    QPushButton* FBitBtnOk = nullptr;
    QPushButton* FBitBtnAnnulla = nullptr;
};

}  // namespace kalmuro
