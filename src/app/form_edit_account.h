// The account editor: one row per field, OK and Annulla. What a choice does
// to the other fields, which rows show, and the browser sign-in are the
// engine's TAccountEditor; the widgets show its fields and hand every typed
// text back to it. Nothing typed is checked or trimmed.
#pragma once

#include <QDialog>
#include <functional>

#include "engine/setup_dialog.h"
#include "mail/accounts.h"

class QCheckBox;
class QComboBox;
class QFormLayout;
class QHBoxLayout;
class QLabel;
class QLineEdit;
class QPushButton;

namespace kalmuro {

class TFormEditAccount : public QDialog {
    Q_OBJECT
public:
    explicit TFormEditAccount(QWidget* owner);

    void SetAccount(const TMailAccount& account);
    TMailAccount Account() const;

    // What "Accedi con il browser" runs: the settings dialog's sign-in on
    // the editor's fields, with the question whether the user ended the
    // wait. Unset (an editor outside the settings dialog), the button does
    // nothing.
    std::function<TSignInOutcome(TAccountEditor&, const std::function<bool()>&)> SignIn;
    // Whether a sign-in is waiting for the browser now.
    bool SigningIn() const { return FSigningIn; }

    QLineEdit* EditAccount() const { return FEditAccount; }
    QLineEdit* EditServer() const { return FEditServer; }
    QLineEdit* EditPorta() const { return FEditPorta; }
    QCheckBox* CheckBoxAPOP() const { return FCheckBoxAPOP; }
    QLineEdit* EditUser() const { return FEditUser; }
    QLineEdit* EditPwd() const { return FEditPwd; }
    QCheckBox* CheckBoxIsAttivo() const { return FCheckBoxIsAttivo; }
    QComboBox* ComboBoxSicurezza() const { return FComboBoxSicurezza; }
    QComboBox* ComboBoxProtocollo() const { return FComboBoxProtocollo; }
    QLineEdit* EditCartella() const { return FEditCartella; }
    QComboBox* ComboBoxAccesso() const { return FComboBoxAccesso; }
    QComboBox* ComboBoxProvider() const { return FComboBoxProvider; }
    QLineEdit* EditIdClient() const { return FEditIdClient; }
    QLineEdit* EditSegretoClient() const { return FEditSegretoClient; }
    QLineEdit* EditUrlAutorizzazione() const { return FEditUrlAutorizzazione; }
    QLineEdit* EditUrlToken() const { return FEditUrlToken; }
    QLineEdit* EditUrlDispositivo() const { return FEditUrlDispositivo; }
    QLineEdit* EditAmbito() const { return FEditAmbito; }
    QPushButton* BitBtnAccedi() const { return FBitBtnAccedi; }
    // The sign-in's state: the wait, then its outcome.
    QLabel* LabelAccesso() const { return FLabelAccesso; }
    QPushButton* BitBtnOk() const { return FBitBtnOk; }
    QPushButton* BitBtnAnnulla() const { return FBitBtnAnnulla; }
    // One row per field, label on the left: a new field is one more row.
    QFormLayout* Fields() const { return FFields; }

public Q_SLOTS:
    // While the browser sign-in waits, Annulla (and Escape, and closing the
    // window) ends the wait and the editor stays open.
    void reject() override;

private:
    // The typed texts into the engine's fields, and the fields back out.
    void ReadTyped(TMailAccount& fields) const;
    void ShowFields();
    void ShowRows();
    void BitBtnAccediClick();

    TAccountEditor FEditor;
    QFormLayout* FFields = nullptr;
    QLineEdit* FEditAccount = nullptr;
    QLineEdit* FEditServer = nullptr;
    QLineEdit* FEditPorta = nullptr;
    QCheckBox* FCheckBoxAPOP = nullptr;
    QLineEdit* FEditUser = nullptr;
    QLineEdit* FEditPwd = nullptr;
    QCheckBox* FCheckBoxIsAttivo = nullptr;
    QComboBox* FComboBoxSicurezza = nullptr;
    QComboBox* FComboBoxProtocollo = nullptr;
    QLineEdit* FEditCartella = nullptr;
    QComboBox* FComboBoxAccesso = nullptr;
    QComboBox* FComboBoxProvider = nullptr;
    QLineEdit* FEditIdClient = nullptr;
    QLineEdit* FEditSegretoClient = nullptr;
    QLineEdit* FEditUrlAutorizzazione = nullptr;
    QLineEdit* FEditUrlToken = nullptr;
    QLineEdit* FEditUrlDispositivo = nullptr;
    QLineEdit* FEditAmbito = nullptr;
    QPushButton* FBitBtnAccedi = nullptr;
    QLabel* FLabelAccesso = nullptr;
    QHBoxLayout* FPortRow = nullptr;
    QHBoxLayout* FProviderRow = nullptr;
    QHBoxLayout* FSignInRow = nullptr;
    QPushButton* FBitBtnOk = nullptr;
    QPushButton* FBitBtnAnnulla = nullptr;
    bool FSigningIn = false;
    bool FStopSignIn = false;
};

}  // namespace kalmuro
