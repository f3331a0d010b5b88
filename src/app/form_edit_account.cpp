#include "app/form_edit_account.h"

#include <QCheckBox>
#include <QComboBox>
#include <QFormLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QVBoxLayout>

#include "app/plain_text.h"
#include "app/qt_text.h"

namespace kalmuro {

namespace {

QString Text(const char* text) { return Win1252ToQString(text); }
QString Text(const std::string& text) { return Win1252ToQString(text); }

QLineEdit* NewEdit(QWidget* parent, const char* name) {
    auto* edit = new QLineEdit(parent);
    edit->setObjectName(QLatin1String(name));
    return edit;
}

// A field whose characters are never shown.
QLineEdit* NewSecretEdit(QWidget* parent, const char* name) {
    QLineEdit* edit = NewEdit(parent, name);
    edit->setEchoMode(QLineEdit::Password);
    // One "*" per character, whatever the style would draw.
    edit->setStyleSheet(QStringLiteral("lineedit-password-character: 42"));
    return edit;
}

QCheckBox* NewCheckBox(QWidget* parent, const char* name, const char* caption) {
    auto* box = new QCheckBox(Text(caption), parent);
    box->setObjectName(QLatin1String(name));
    return box;
}

QComboBox* NewCombo(QWidget* parent, const char* name, const char* accessibleName) {
    auto* combo = new QComboBox(parent);
    combo->setObjectName(QLatin1String(name));
    // Its row holds a layout, which gives the label no buddy.
    combo->setAccessibleName(Text(accessibleName));
    return combo;
}

// A row for a control that keeps its own width.
QHBoxLayout* LeftAligned(QWidget* widget) {
    auto* row = new QHBoxLayout;
    row->addWidget(widget);
    row->addStretch(1);
    return row;
}

}  // namespace

TFormEditAccount::TFormEditAccount(QWidget* owner) : QDialog(owner) {
    setObjectName(QStringLiteral("FormEditAccount"));
    setWindowTitle(QStringLiteral("Account"));

    FEditAccount = NewEdit(this, "EditAccount");
    FComboBoxProtocollo = NewCombo(this, "ComboBoxProtocollo", "Protocollo");
    for (const char* caption : kProtocolCaptions) FComboBoxProtocollo->addItem(Text(caption));
    FEditServer = NewEdit(this, "EditServer");
    FEditPorta = NewEdit(this, "EditPorta");
    FEditPorta->setMaximumWidth(fontMetrics().horizontalAdvance(QLatin1Char('0')) * 7 + 12);
    FCheckBoxAPOP = NewCheckBox(this, "CheckBoxAPOP", "Usa autenticazione APOP");
    FComboBoxSicurezza = NewCombo(this, "ComboBoxSicurezza", "Sicurezza");
    // In the order of the stored values 0, 1, 2.
    FComboBoxSicurezza->addItems({QStringLiteral("Nessuna"), QStringLiteral("STARTTLS"),
                                  QStringLiteral("SSL/TLS")});
    FEditCartella = NewEdit(this, "EditCartella");
    FComboBoxAccesso = NewCombo(this, "ComboBoxAccesso", "Accesso");
    for (const char* caption : kAccessCaptions) FComboBoxAccesso->addItem(Text(caption));
    FEditUser = NewEdit(this, "EditUser");
    FEditPwd = NewSecretEdit(this, "EditPwd");
    FComboBoxProvider = NewCombo(this, "ComboBoxProvider", "Fornitore");
    for (const TProviderChoice& choice : kProviderChoices)
        FComboBoxProvider->addItem(Text(choice.Caption), Text(choice.Provider));
    FEditIdClient = NewEdit(this, "EditIdClient");
    FEditSegretoClient = NewSecretEdit(this, "EditSegretoClient");
    FEditUrlAutorizzazione = NewEdit(this, "EditUrlAutorizzazione");
    FEditUrlToken = NewEdit(this, "EditUrlToken");
    FEditUrlDispositivo = NewEdit(this, "EditUrlDispositivo");
    FEditAmbito = NewEdit(this, "EditAmbito");
    FBitBtnAccedi = new QPushButton(NoMnemonic(Text(kSignInCaption)), this);
    FBitBtnAccedi->setObjectName(QStringLiteral("BitBtnAccedi"));
    FBitBtnAccedi->setAutoDefault(false);
    // The provider's error text can be anything: shown as written.
    FLabelAccesso = new QLabel(this);
    FLabelAccesso->setObjectName(QStringLiteral("LabelAccesso"));
    FLabelAccesso->setTextFormat(Qt::PlainText);
    FLabelAccesso->setWordWrap(true);
    FCheckBoxIsAttivo = NewCheckBox(this, "CheckBoxIsAttivo", "Account attivo");

    FFields = new QFormLayout;
    FFields->setFieldGrowthPolicy(QFormLayout::AllNonFixedFieldsGrow);
    FFields->setLabelAlignment(Qt::AlignLeft | Qt::AlignVCenter);
    FFields->addRow(QStringLiteral("Account"), FEditAccount);
    FFields->addRow(QStringLiteral("Protocollo"), LeftAligned(FComboBoxProtocollo));
    FFields->addRow(Text(ServerCaption(TProtocol::Pop3)), FEditServer);
    FPortRow = new QHBoxLayout;
    FPortRow->addWidget(FEditPorta);
    FPortRow->addSpacing(12);
    FPortRow->addWidget(FCheckBoxAPOP);
    FPortRow->addStretch(1);
    FFields->addRow(QStringLiteral("Porta"), FPortRow);
    // Rows that hold a layout give their label no buddy: the names are set.
    FEditPorta->setAccessibleName(QStringLiteral("Porta"));
    FFields->addRow(QStringLiteral("Sicurezza"), LeftAligned(FComboBoxSicurezza));
    FFields->addRow(QStringLiteral("Cartella"), FEditCartella);
    FFields->addRow(QStringLiteral("Accesso"), LeftAligned(FComboBoxAccesso));
    FFields->addRow(QStringLiteral("Nome utente"), FEditUser);
    FFields->addRow(QStringLiteral("Password"), FEditPwd);
    FProviderRow = LeftAligned(FComboBoxProvider);
    FFields->addRow(QStringLiteral("Fornitore"), FProviderRow);
    FFields->addRow(QStringLiteral("ID client"), FEditIdClient);
    FFields->addRow(QStringLiteral("Segreto client"), FEditSegretoClient);
    FFields->addRow(QStringLiteral("URL di autorizzazione"), FEditUrlAutorizzazione);
    FFields->addRow(QStringLiteral("URL del token"), FEditUrlToken);
    FFields->addRow(QStringLiteral("URL dispositivo (facoltativo)"), FEditUrlDispositivo);
    FFields->addRow(QStringLiteral("Ambiti"), FEditAmbito);
    FSignInRow = new QHBoxLayout;
    FSignInRow->addWidget(FBitBtnAccedi);
    FSignInRow->addWidget(FLabelAccesso, 1);
    FFields->addRow(QString(), FSignInRow);
    FFields->addRow(QString(), FCheckBoxIsAttivo);
    // A row that holds a layout gives its label no buddy; a screen reader
    // finds a list's label through it (it reads a list's choice as its name).
    for (QWidget* field : std::initializer_list<QWidget*>{
             FComboBoxProtocollo, FEditPorta, FComboBoxSicurezza, FComboBoxAccesso,
             FComboBoxProvider}) {
        for (int row = 0; row < FFields->rowCount(); ++row) {
            QLayoutItem* item = FFields->itemAt(row, QFormLayout::FieldRole);
            if (item == nullptr || item->layout() == nullptr ||
                item->layout()->indexOf(field) < 0)
                continue;
            if (auto* label = qobject_cast<QLabel*>(
                    FFields->itemAt(row, QFormLayout::LabelRole)->widget()))
                label->setBuddy(field);
        }
    }
    // Wide enough for an address or a scope list, and for an error to wrap
    // in a few lines rather than stretch the window.
    FLabelAccesso->setMinimumWidth(fontMetrics().averageCharWidth() * 28);
    FEditUrlAutorizzazione->setMinimumWidth(fontMetrics().averageCharWidth() * 40);

    FBitBtnAnnulla = new QPushButton(QStringLiteral("Annulla"), this);
    FBitBtnAnnulla->setObjectName(QStringLiteral("BitBtnAnnulla"));
    FBitBtnAnnulla->setAutoDefault(false);
    FBitBtnOk = new QPushButton(QStringLiteral("OK"), this);
    FBitBtnOk->setObjectName(QStringLiteral("BitBtnOk"));
    FBitBtnOk->setDefault(true);
    connect(FBitBtnOk, &QPushButton::clicked, this, &QDialog::accept);
    connect(FBitBtnAnnulla, &QPushButton::clicked, this, &TFormEditAccount::reject);
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

    // Each choice goes through the engine, which may move other fields.
    connect(FComboBoxProtocollo, &QComboBox::activated, this, [this](int index) {
        ReadTyped(FEditor.Fields);
        FEditor.SetProtocol(static_cast<TProtocol>(index));
        ShowFields();
    });
    connect(FComboBoxSicurezza, &QComboBox::activated, this, [this](int index) {
        ReadTyped(FEditor.Fields);
        FEditor.SetSecurity(static_cast<TSecurity>(index));
        ShowFields();
    });
    connect(FComboBoxAccesso, &QComboBox::activated, this, [this](int index) {
        ReadTyped(FEditor.Fields);
        FEditor.SetAccess(static_cast<TAccessMethod>(index));
        ShowFields();
    });
    connect(FComboBoxProvider, &QComboBox::activated, this, [this](int index) {
        ReadTyped(FEditor.Fields);
        FEditor.SetProvider(QStringToWin1252(FComboBoxProvider->itemData(index).toString()));
        ShowFields();
    });
    connect(FBitBtnAccedi, &QPushButton::clicked, this, &TFormEditAccount::BitBtnAccediClick);

    const QWidget* order[] = {FEditAccount,        FComboBoxProtocollo,   FEditServer,
                              FEditPorta,          FCheckBoxAPOP,         FComboBoxSicurezza,
                              FEditCartella,       FComboBoxAccesso,      FEditUser,
                              FEditPwd,            FComboBoxProvider,     FEditIdClient,
                              FEditSegretoClient,  FEditUrlAutorizzazione, FEditUrlToken,
                              FEditUrlDispositivo, FEditAmbito,           FBitBtnAccedi,
                              FCheckBoxIsAttivo,   FBitBtnAnnulla,        FBitBtnOk};
    for (size_t i = 0; i + 1 < std::size(order); ++i)
        setTabOrder(const_cast<QWidget*>(order[i]), const_cast<QWidget*>(order[i + 1]));
    SetAccount(TMailAccount{});
    FEditAccount->setFocus();
}

void TFormEditAccount::SetAccount(const TMailAccount& account) {
    FEditor = TAccountEditor(account);
    FLabelAccesso->clear();
    ShowFields();
}

TMailAccount TFormEditAccount::Account() const {
    TAccountEditor editor = FEditor;
    ReadTyped(editor.Fields);
    return editor.Result();
}

void TFormEditAccount::ReadTyped(TMailAccount& a) const {
    a.Protocol = static_cast<TProtocol>(FComboBoxProtocollo->currentIndex());
    a.Security = static_cast<TSecurity>(FComboBoxSicurezza->currentIndex());
    a.Access = static_cast<TAccessMethod>(FComboBoxAccesso->currentIndex());
    a.AccountName = QStringToWin1252(FEditAccount->text());
    a.PopServer = QStringToWin1252(FEditServer->text());
    a.Port = QStringToWin1252(FEditPorta->text());
    a.Apop = FCheckBoxAPOP->isChecked();
    a.Folder = QStringToWin1252(FEditCartella->text());
    a.UserId = QStringToWin1252(FEditUser->text());
    a.UserPwd = QStringToWin1252(FEditPwd->text());
    // A provider the program does not know stays as stored until one is picked.
    if (FComboBoxProvider->currentIndex() >= 0)
        a.OAuth.Provider = QStringToWin1252(FComboBoxProvider->currentData().toString());
    a.OAuth.ClientId = QStringToWin1252(FEditIdClient->text());
    a.OAuth.ClientSecret = QStringToWin1252(FEditSegretoClient->text());
    a.OAuth.AuthorizationUrl = QStringToWin1252(FEditUrlAutorizzazione->text());
    a.OAuth.TokenUrl = QStringToWin1252(FEditUrlToken->text());
    a.OAuth.DeviceUrl = QStringToWin1252(FEditUrlDispositivo->text());
    a.OAuth.Scope = QStringToWin1252(FEditAmbito->text());
    a.Active = FCheckBoxIsAttivo->isChecked();
}

void TFormEditAccount::ShowFields() {
    const TMailAccount& a = FEditor.Fields;
    FComboBoxProtocollo->setCurrentIndex(static_cast<int>(a.Protocol));
    FComboBoxSicurezza->setCurrentIndex(static_cast<int>(a.Security));
    FComboBoxAccesso->setCurrentIndex(static_cast<int>(a.Access));
    FComboBoxProvider->setCurrentIndex(FComboBoxProvider->findData(Text(a.OAuth.Provider)));
    FEditAccount->setText(Text(a.AccountName));
    FEditServer->setText(Text(a.PopServer));
    FEditPorta->setText(Text(a.Port));
    FCheckBoxAPOP->setChecked(a.Apop);
    FEditCartella->setText(Text(a.Folder));
    FEditUser->setText(Text(a.UserId));
    FEditPwd->setText(Text(a.UserPwd));
    FEditIdClient->setText(Text(a.OAuth.ClientId));
    FEditSegretoClient->setText(Text(a.OAuth.ClientSecret));
    FEditUrlAutorizzazione->setText(Text(a.OAuth.AuthorizationUrl));
    FEditUrlToken->setText(Text(a.OAuth.TokenUrl));
    FEditUrlDispositivo->setText(Text(a.OAuth.DeviceUrl));
    FEditAmbito->setText(Text(a.OAuth.Scope));
    FCheckBoxIsAttivo->setChecked(a.Active);
    ShowRows();
}

void TFormEditAccount::ShowRows() {
    const TAccountFields shown = FEditor.Shown();
    if (auto* label = qobject_cast<QLabel*>(FFields->labelForField(FEditServer)))
        label->setText(Text(ServerCaption(FEditor.Fields.Protocol)));
    FCheckBoxAPOP->setVisible(shown.Apop);
    FFields->setRowVisible(FEditCartella, shown.Folder);
    FFields->setRowVisible(FEditPwd, shown.Password);
    FFields->setRowVisible(FEditIdClient, shown.OAuth);
    FFields->setRowVisible(FEditSegretoClient, shown.OAuth);
    FFields->setRowVisible(FProviderRow, shown.OAuth);
    for (QWidget* field : std::initializer_list<QWidget*>{
             FEditUrlAutorizzazione, FEditUrlToken, FEditUrlDispositivo, FEditAmbito})
        FFields->setRowVisible(field, shown.CustomEndpoints);
    FFields->setRowVisible(FSignInRow, shown.OAuth);
}

void TFormEditAccount::BitBtnAccediClick() {
    if (FSigningIn) return;
    ReadTyped(FEditor.Fields);
    if (!SignIn) return;
    FSigningIn = true;
    FStopSignIn = false;
    // Nothing but Annulla while the browser is out: the fields are what the
    // sign-in runs on, and OK would close the editor under the wait.
    QList<QWidget*> frozen;
    for (QWidget* w : findChildren<QWidget*>())
        if (w != FBitBtnAnnulla && w != FLabelAccesso && w->isEnabled() &&
            w->parentWidget() == this) {
            frozen << w;
            w->setEnabled(false);
        }
    FLabelAccesso->setText(Text(kSignInWaitText));
    const TSignInOutcome outcome = SignIn(FEditor, [this] { return FStopSignIn; });
    for (QWidget* w : frozen) w->setEnabled(true);
    FSigningIn = false;
    // The sign-in may have filled the user name.
    ShowFields();
    FLabelAccesso->setText(Text(outcome.Text));
    FBitBtnAccedi->setFocus();
}

void TFormEditAccount::reject() {
    if (FSigningIn) {
        FStopSignIn = true;
        return;
    }
    QDialog::reject();
}

}  // namespace kalmuro
