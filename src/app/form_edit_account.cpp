#include "app/form_edit_account.h"

#include <QCheckBox>
#include <QComboBox>
#include <QFormLayout>
#include <QHBoxLayout>
#include <QLineEdit>
#include <QPushButton>
#include <QVBoxLayout>

#include "app/qt_text.h"

namespace kalmuro {

namespace {

QLineEdit* NewEdit(QWidget* parent, const char* name) {
    auto* edit = new QLineEdit(parent);
    edit->setObjectName(QLatin1String(name));
    return edit;
}

QCheckBox* NewCheckBox(QWidget* parent, const char* name, const char* caption) {
    auto* box = new QCheckBox(Win1252ToQString(caption), parent);
    box->setObjectName(QLatin1String(name));
    return box;
}

}  // namespace

TFormEditAccount::TFormEditAccount(QWidget* owner) : QDialog(owner) {
    setObjectName(QStringLiteral("FormEditAccount"));
    setWindowTitle(QStringLiteral("Account"));

    FEditAccount = NewEdit(this, "EditAccount");
    FEditServer = NewEdit(this, "EditServer");
    FEditPorta = NewEdit(this, "EditPorta");
    FEditPorta->setMaximumWidth(fontMetrics().horizontalAdvance(QLatin1Char('0')) * 7 + 12);
    FCheckBoxAPOP = NewCheckBox(this, "CheckBoxAPOP", "Usa autenticazione APOP");
    FEditUser = NewEdit(this, "EditUser");
    FEditPwd = NewEdit(this, "EditPwd");
    FEditPwd->setEchoMode(QLineEdit::Password);
    // One "*" per character, whatever the style would draw.
    FEditPwd->setStyleSheet(QStringLiteral("lineedit-password-character: 42"));
    FCheckBoxIsAttivo = NewCheckBox(this, "CheckBoxIsAttivo", "Account attivo");
    FComboBoxSicurezza = new QComboBox(this);
    FComboBoxSicurezza->setObjectName(QStringLiteral("ComboBoxSicurezza"));
    // In the order of the stored values 0, 1, 2.
    FComboBoxSicurezza->addItems({QStringLiteral("Nessuna"), QStringLiteral("STARTTLS"),
                                  QStringLiteral("SSL/TLS")});
    // The usual port follows the choice; a port typed by hand stays.
    connect(FComboBoxSicurezza, &QComboBox::activated, this, [this](int index) {
        FEditPorta->setText(Win1252ToQString(PortForSecurity(
            QStringToWin1252(FEditPorta->text()), static_cast<TSecurity>(index))));
    });

    FFields = new QFormLayout;
    FFields->setFieldGrowthPolicy(QFormLayout::AllNonFixedFieldsGrow);
    FFields->setLabelAlignment(Qt::AlignLeft | Qt::AlignVCenter);
    FFields->addRow(QStringLiteral("Account"), FEditAccount);
    FFields->addRow(QStringLiteral("Server POP3"), FEditServer);
    auto* portRow = new QHBoxLayout;
    portRow->addWidget(FEditPorta);
    portRow->addSpacing(12);
    portRow->addWidget(FCheckBoxAPOP);
    portRow->addStretch(1);
    FFields->addRow(QStringLiteral("Porta"), portRow);
    // Rows that hold a layout give their label no buddy: the names are set.
    FEditPorta->setAccessibleName(QStringLiteral("Porta"));
    FComboBoxSicurezza->setAccessibleName(QStringLiteral("Sicurezza"));
    auto* securityRow = new QHBoxLayout;
    securityRow->addWidget(FComboBoxSicurezza);
    securityRow->addStretch(1);
    FFields->addRow(QStringLiteral("Sicurezza"), securityRow);
    FFields->addRow(QStringLiteral("Nome utente"), FEditUser);
    FFields->addRow(QStringLiteral("Password"), FEditPwd);
    FFields->addRow(QString(), FCheckBoxIsAttivo);

    FBitBtnAnnulla = new QPushButton(QStringLiteral("Annulla"), this);
    FBitBtnAnnulla->setObjectName(QStringLiteral("BitBtnAnnulla"));
    FBitBtnAnnulla->setAutoDefault(false);
    FBitBtnOk = new QPushButton(QStringLiteral("OK"), this);
    FBitBtnOk->setObjectName(QStringLiteral("BitBtnOk"));
    FBitBtnOk->setDefault(true);
    connect(FBitBtnOk, &QPushButton::clicked, this, &QDialog::accept);
    connect(FBitBtnAnnulla, &QPushButton::clicked, this, &QDialog::reject);
    auto* buttons = new QHBoxLayout;
    buttons->addStretch(1);
    buttons->addWidget(FBitBtnAnnulla);
    buttons->addWidget(FBitBtnOk);

    auto* layout = new QVBoxLayout(this);
    layout->addLayout(FFields);
    layout->addStretch(1);
    layout->addLayout(buttons);
    // A fixed border: the size the controls need, never below the design's.
    setMinimumSize(316, 199);
    layout->setSizeConstraint(QLayout::SetFixedSize);

    setTabOrder(FEditAccount, FEditServer);
    setTabOrder(FEditServer, FEditPorta);
    setTabOrder(FEditPorta, FCheckBoxAPOP);
    setTabOrder(FCheckBoxAPOP, FComboBoxSicurezza);
    setTabOrder(FComboBoxSicurezza, FEditUser);
    setTabOrder(FEditUser, FEditPwd);
    setTabOrder(FEditPwd, FCheckBoxIsAttivo);
    setTabOrder(FCheckBoxIsAttivo, FBitBtnAnnulla);
    setTabOrder(FBitBtnAnnulla, FBitBtnOk);
    FEditAccount->setFocus();
}

void TFormEditAccount::SetAccount(const TMailAccount& account) {
    FAccount = account;
    FComboBoxSicurezza->setCurrentIndex(static_cast<int>(account.Security));
    FEditAccount->setText(Win1252ToQString(account.AccountName));
    FEditServer->setText(Win1252ToQString(account.PopServer));
    FEditPorta->setText(Win1252ToQString(account.Port));
    FCheckBoxAPOP->setChecked(account.Apop);
    FEditUser->setText(Win1252ToQString(account.UserId));
    FEditPwd->setText(Win1252ToQString(account.UserPwd));
    FCheckBoxIsAttivo->setChecked(account.Active);
}

TMailAccount TFormEditAccount::Account() const {
    TMailAccount account = FAccount;
    account.Security = static_cast<TSecurity>(FComboBoxSicurezza->currentIndex());
    account.AccountName = QStringToWin1252(FEditAccount->text());
    account.PopServer = QStringToWin1252(FEditServer->text());
    account.Port = QStringToWin1252(FEditPorta->text());
    account.Apop = FCheckBoxAPOP->isChecked();
    account.UserId = QStringToWin1252(FEditUser->text());
    account.UserPwd = QStringToWin1252(FEditPwd->text());
    account.Active = FCheckBoxIsAttivo->isChecked();
    return account;
}

}  // namespace kalmuro
