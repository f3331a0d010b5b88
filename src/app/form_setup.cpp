#include "app/form_setup.h"

#include <QCheckBox>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QPushButton>
#include <QScrollBar>
#include <QSpinBox>
#include <QTableWidget>
#include <QVBoxLayout>

#include "app/color_button.h"
#include "app/form_edit_account.h"
#include "app/plain_text.h"
#include "app/qt_text.h"
#include "app/shell.h"
#include "engine/form_main.h"
#include "mail/text.h"

namespace kalmuro {

namespace {

QString Text(const char* text) { return Win1252ToQString(text); }

QLabel* NewLabel(QWidget* parent, const char* text) {
    auto* label = new QLabel(Text(text), parent);
    label->setTextFormat(Qt::PlainText);
    return label;
}

QPushButton* NewButton(QWidget* parent, const char* name, const char* caption, const char* tip) {
    auto* button = new QPushButton(Text(caption), parent);
    button->setObjectName(QLatin1String(name));
    if (tip) SetPlainTip(button, Text(tip));
    button->setAutoDefault(false);
    return button;
}

QSpinBox* NewSpinBox(QWidget* parent, const char* name, TSpinRange range) {
    auto* spin = new QSpinBox(parent);
    spin->setObjectName(QLatin1String(name));
    spin->setRange(range.Min, range.Max);
    return spin;
}

// Design widths of the grid's columns, in pixels.
constexpr int kGridColumnWidths[] = {139, 127, 146, 62, 36, 34};

}  // namespace

TFormSetup::TFormSetup(TFormMain& form, QWidget* owner) : QDialog(owner), FSetup(form) {
    setObjectName(QStringLiteral("FormSetup"));
    setWindowTitle(QStringLiteral("Impostazioni"));

    auto* lower = new QGridLayout;
    lower->addWidget(BuildSpamControl(), 0, 0, 2, 1);
    lower->addWidget(BuildOptions(), 0, 1);
    auto* bottomRight = new QHBoxLayout;
    bottomRight->addWidget(BuildColors(), 1);
    auto* buttons = new QVBoxLayout;
    buttons->addStretch(1);
    FBitBtnAnnulla = NewButton(this, "BitBtnAnnulla", "Annulla",
                               "Non salva le modifiche apportate nelle Opzioni");
    FBitBtnOk = NewButton(
        this, "BitBtnOk", "OK",
        "Conferma tutte le modifiche apportate nelle Opzioni e negli Accounts di posta");
    FBitBtnOk->setDefault(true);
    buttons->addWidget(FBitBtnAnnulla);
    buttons->addWidget(FBitBtnOk);
    bottomRight->addLayout(buttons);
    lower->addLayout(bottomRight, 1, 1);
    lower->setColumnStretch(1, 1);

    auto* layout = new QVBoxLayout(this);
    layout->addWidget(BuildAccounts());
    layout->addLayout(lower);
    // A fixed border: the size the controls need, never below the design's.
    setMinimumSize(506, 423);
    layout->setSizeConstraint(QLayout::SetFixedSize);

    connect(FBitBtnOk, &QPushButton::clicked, this, &TFormSetup::BitBtnOkClick);
    connect(FBitBtnAnnulla, &QPushButton::clicked, this, &QDialog::reject);

    FSetup.OpenBrowser = [](const std::string& address) {
        return OpenWithDesktop(address, std::string());
    };
    FSetup.FormCreate();
    FillAccountGrid();
    ShowOptions();
    const bool editable = FSetup.AccountsEditable();
    FBitBtnAdd->setEnabled(editable);
    FBitBtnEdit->setEnabled(editable);
    FBitBtnDel->setEnabled(editable);
}

QWidget* TFormSetup::BuildAccounts() {
    auto* group = new QGroupBox(Text("Accounts di posta elettronica"), this);
    FGrid = new QTableWidget(0, 6, group);
    FGrid->setObjectName(QStringLiteral("StringGridAccounts"));
    FGrid->setAccessibleName(Text("Accounts di posta elettronica"));
    FGrid->setEditTriggers(QAbstractItemView::NoEditTriggers);
    FGrid->setSelectionBehavior(QAbstractItemView::SelectRows);
    FGrid->setSelectionMode(QAbstractItemView::SingleSelection);
    FGrid->setWordWrap(false);
    FGrid->setTabKeyNavigation(false);
    FGrid->verticalHeader()->hide();
    FGrid->verticalHeader()->setSectionResizeMode(QHeaderView::Fixed);
    FGrid->verticalHeader()->setDefaultSectionSize(std::max(16, fontMetrics().height() + 4));
    FGrid->horizontalHeader()->setSectionResizeMode(QHeaderView::Interactive);
    FGrid->horizontalHeader()->setHighlightSections(false);
    FGrid->horizontalHeader()->setStretchLastSection(false);
    // The design's widths, widened where this desktop's font needs more room
    // for a title or for the twelve asterisks.
    const QFontMetrics metrics = FGrid->fontMetrics();
    int columnsWidth = 0;
    for (int column = 0; column < 6; ++column) {
        int width = std::max(kGridColumnWidths[column],
                             metrics.horizontalAdvance(Text(kAccountGridTitles[column])) + 16);
        if (column == 3) width = std::max(width, metrics.horizontalAdvance(Text(kPasswordMask)) + 12);
        FGrid->setColumnWidth(column, width);
        columnsWidth += width;
    }
    // Every column in sight at first; the user may still widen them.
    FGrid->setMinimumWidth(columnsWidth + 2 * FGrid->frameWidth() +
                           FGrid->verticalScrollBar()->sizeHint().width());
    FGrid->setMinimumHeight(FGrid->verticalHeader()->defaultSectionSize() * 5 +
                            FGrid->horizontalHeader()->sizeHint().height() + 4);
    connect(FGrid, &QTableWidget::currentCellChanged, this, [this](int row, int, int, int) {
        if (!FFilling) FSetup.SetRow(row + 1);
    });
    connect(FGrid, &QTableWidget::cellDoubleClicked, this, [this](int row, int) {
        // As a click on "Modifica" for the row under the pointer.
        FSetup.SetRow(row + 1);
        if (FSetup.Row() > 0) BitBtnEditClick();
    });

    FBitBtnAdd = NewButton(group, "BitBtnAdd", "Aggiungi",
                           "Aggiunge un nuovo account di posta elettronica");
    FBitBtnEdit = NewButton(group, "BitBtnEdit", "Modifica",
                            "Modifica i dati sull'account di posta elettronica evidenziato");
    FBitBtnDel = NewButton(group, "BitBtnDel", "Elimina",
                           "Elimina l'account di posta elettronica evidenziato");
    connect(FBitBtnAdd, &QPushButton::clicked, this, &TFormSetup::BitBtnAddClick);
    connect(FBitBtnEdit, &QPushButton::clicked, this, &TFormSetup::BitBtnEditClick);
    connect(FBitBtnDel, &QPushButton::clicked, this, &TFormSetup::BitBtnDelClick);

    auto* buttons = new QVBoxLayout;
    buttons->addWidget(FBitBtnAdd);
    buttons->addWidget(FBitBtnEdit);
    buttons->addWidget(FBitBtnDel);
    buttons->addStretch(1);
    auto* layout = new QHBoxLayout(group);
    layout->addWidget(FGrid, 1);
    layout->addLayout(buttons);
    return group;
}

QWidget* TFormSetup::BuildSpamControl() {
    auto* group = new QGroupBox(Text("Controllo spamming"), this);
    auto* layout = new QVBoxLayout(group);
    struct TListButton {
        const char* Name;
        const char* Caption;
        const char* Tip;
        TRuleListFile List;
    };
    const TListButton lists[] = {
        {"BitBtnFrom", "Mittenti bloccati", "Apre l'elenco dei Mittenti bloccati",
         TRuleListFile::BlockedSenders},
        {"BitBtnOkFrom", "Mittenti sicuri", "Apre l'elenco dei Mittenti sicuri",
         TRuleListFile::SafeSenders},
        {"BitBtnSubject", "Oggetti bloccati", "Apre l'elenco degli Oggetti bloccati",
         TRuleListFile::BlockedSubjects},
        {"BitBtnOkSubject", "Oggetti sicuri", "Apre l'elenco degli Oggetti sicuri",
         TRuleListFile::SafeSubjects},
    };
    for (const TListButton& list : lists) {
        QPushButton* button = NewButton(group, list.Name, list.Caption, list.Tip);
        const TRuleListFile file = list.List;
        connect(button, &QPushButton::clicked, this, [this, file] { FSetup.OpenRuleList(file); });
        layout->addWidget(button);
    }
    layout->addSpacing(8);
    layout->addWidget(AddCheckBox(group, "CheckBoxStopEmptyMsg", "Blocca i messaggi vuoti",
                                  "Blocca i messaggi che hanno il mittente e l'oggetto vuoto",
                                  &TSetupOptions::StopEmptyMsg));
    layout->addStretch(1);
    return group;
}

QCheckBox* TFormSetup::AddCheckBox(QWidget* parent, const char* name, const char* caption,
                                   const char* tip, bool TSetupOptions::*option) {
    auto* box = new QCheckBox(Text(caption), parent);
    box->setObjectName(QLatin1String(name));
    if (tip) SetPlainTip(box, Text(tip));
    connect(box, &QCheckBox::toggled, this, [this, option](bool on) {
        if (!FFilling) FSetup.Options.*option = on;
    });
    FOptionBoxes.emplace_back(box, option);
    return box;
}

QWidget* TFormSetup::BuildOptions() {
    auto* group = new QGroupBox(Text("Opzioni"), this);
    auto* layout = new QGridLayout(group);
    layout->setColumnStretch(3, 1);

    FCheckBoxAutoCheck = AddCheckBox(group, "CheckBoxAutoCheck",
                                     "Controlla automaticamente la posta ogni",
                                     "Se volete controllare la posta ad intervalli regolari "
                                     "(consigliato solo per le connessioni di tipo flat)",
                                     &TSetupOptions::AutoCheck);
    FSpinEditAutoCheck = NewSpinBox(group, "SpinEditAutoCheck", kAutoCheckMinutesRange);
    FSpinEditAutoCheck->setAccessibleName(Text("Minuti tra un controllo automatico e l'altro"));
    layout->addWidget(FCheckBoxAutoCheck, 0, 0);
    layout->addWidget(FSpinEditAutoCheck, 0, 1);
    layout->addWidget(NewLabel(group, "minuti"), 0, 2);

    FCheckBoxAutoCheckIcon =
        AddCheckBox(group, "CheckBoxAutoCheckIcon",
                    "Effettua il controllo solo quando \xE8 ridotto a icona",  // è
                    "Non controlla automaticamente la posta quando il programma \xE8 "  // è
                    "visibile sul Desktop",
                    &TSetupOptions::AutoCheckIcon);
    auto* indented = new QHBoxLayout;
    indented->addSpacing(20);
    indented->addWidget(FCheckBoxAutoCheckIcon);
    layout->addLayout(indented, 1, 0, 1, 4);
    connect(FCheckBoxAutoCheck, &QCheckBox::toggled, this,
            [this] { FCheckBoxAutoCheckIcon->setEnabled(FSetup.AutoCheckIconEnabled()); });

    int row = 2;
    const auto addRow = [&](QWidget* widget) { layout->addWidget(widget, row++, 0, 1, 4); };
    addRow(AddCheckBox(group, "CheckBoxCheckStart", "Controlla la posta all'avvio",
                       "Controlla la posta non appena viene eseguito il programma",
                       &TSetupOptions::CheckStart));
    addRow(AddCheckBox(group, "CheckBoxMinimize",
                       "Avvia il programma ridotto a icona nella System Tray", nullptr,
                       &TSetupOptions::MinimizeStart));
    // Not an option of the settings file: the box shows and sets the
    // desktop's login entry itself.
    FCheckBoxStartAtLogin = new QCheckBox(Text(kStartAtLoginCaption), group);
    FCheckBoxStartAtLogin->setObjectName(QStringLiteral("CheckBoxStartAtLogin"));
    SetPlainTip(FCheckBoxStartAtLogin,
                Text("Avvia il programma quando si accede al desktop, ridotto a icona se \xE8 "  // è
                     "attiva la casella qui sopra"));
    connect(FCheckBoxStartAtLogin, &QCheckBox::toggled, this, [this](bool on) {
        if (!FFilling) FSetup.StartAtLogin = on;
    });
    addRow(FCheckBoxStartAtLogin);
    addRow(AddCheckBox(group, "CheckBoxNotifiBalloon",
                       "Notifica i nuovi messaggi con i Balloon Tips", nullptr,
                       &TSetupOptions::NotifyBalloon));
    addRow(AddCheckBox(group, "CheckBoxCopyToRecycle", "Copia nel cestino i messaggi eliminati",
                       "Per essere sicuri di non perdere messaggi di posta si consiglia di "
                       "attivare questa casella",
                       &TSetupOptions::CopyToRecycle));

    auto* autoDelete = new QHBoxLayout;
    autoDelete->addWidget(AddCheckBox(
        group, "CheckBoxAutoDelete", "Elimina in automatico i messaggi bloccati",
        "Elimina direttamente i messaggi che sono stati bloccati dai controlli anti-spamming",
        &TSetupOptions::AutoDelete));
    QLabel* danger = NewLabel(group, "(PERICOLOSO)");
    danger->setObjectName(QStringLiteral("LabelPericoloso"));
    QFont bold = danger->font();
    bold.setBold(true);
    danger->setFont(bold);
    QPalette red = danger->palette();
    red.setColor(QPalette::WindowText, Qt::red);
    danger->setPalette(red);
    autoDelete->addWidget(danger);
    autoDelete->addStretch(1);
    layout->addLayout(autoDelete, row++, 0, 1, 4);
    addRow(AddCheckBox(group, "CheckBoxDecodeUTF8", "Decodifica i testi codificati in UTF-8",
                       nullptr, &TSetupOptions::DecodeUtf8));
    QCheckBox* keyring = AddCheckBox(group, "CheckBoxPortachiavi",
                                     "Conserva le password nel portachiavi del sistema", nullptr,
                                     &TSetupOptions::Keyring);
    connect(keyring, &QCheckBox::toggled, this, [this, keyring](bool on) {
        // Refused, with a box that says why, when the keyring does not answer.
        if (FFilling || FSetup.SetKeyringOption(on) == on) return;
        FFilling = true;
        keyring->setChecked(!on);
        FFilling = false;
    });
    addRow(keyring);
    addRow(AddCheckBox(group, "CheckBoxSpostaInSpam", kMoveToJunkCaption,
                       "Con gli account IMAP i messaggi bloccati finiscono nella cartella "
                       "Spam del server, da cui si possono ancora recuperare",
                       &TSetupOptions::MoveToJunk));
    addRow(AddCheckBox(group, "CheckBoxAttesaImmediata", kImmediateCheckCaption,
                       "Resta in ascolto dei server IMAP che lo permettono e controlla la "
                       "posta appena arriva un messaggio",
                       &TSetupOptions::ImmediateCheck));

    auto* timeout = new QHBoxLayout;
    QLabel* timeoutLabel = NewLabel(group, "Attesa massima nelle operazioni con il server");
    const QString timeoutTip =
        Text("Tempo massimo di attesa quando si aspetta una risposta dal server");
    SetPlainTip(timeoutLabel, timeoutTip);
    FSpinEditTimeout = NewSpinBox(group, "SpinEditTimeout", kTimeoutRange);
    // Its unit is the label after it, which a screen reader would not join.
    FSpinEditTimeout->setAccessibleName(
        Text("Attesa massima nelle operazioni con il server, in secondi"));
    FSpinEditTimeout->setAccessibleDescription(timeoutTip);
    timeoutLabel->setBuddy(FSpinEditTimeout);
    timeout->addWidget(timeoutLabel);
    timeout->addWidget(FSpinEditTimeout);
    timeout->addWidget(NewLabel(group, "secondi"));
    timeout->addStretch(1);
    layout->addLayout(timeout, row++, 0, 1, 4);

    connect(FSpinEditAutoCheck, &QSpinBox::valueChanged, this, [this](int value) {
        if (!FFilling) FSetup.Options.AutoCheckMinutes = IntToStr(value);
    });
    connect(FSpinEditTimeout, &QSpinBox::valueChanged, this, [this](int value) {
        if (!FFilling) FSetup.Options.Timeout = IntToStr(value);
    });
    return group;
}

QWidget* TFormSetup::BuildColors() {
    auto* group = new QGroupBox(Text("Colore testo dei messaggi"), this);
    auto* layout = new QGridLayout(group);
    struct TPicker {
        const char* Name;
        const char* Caption;
        const char* Tip;
        int32_t TRowColors::*Color;
    };
    const TPicker pickers[] = {
        {"ColorButtonNormale", "Normali", "Colore dei messaggi normali", &TRowColors::Normal},
        {"ColorButtonSelezionato", "Selezionati",
         "Colore dei messaggi selezionati per essere eliminati", &TRowColors::Selected},
        {"ColorButtonBloccato", "Bloccati", "Colore dei messaggi bloccati che non sono selezionati",
         &TRowColors::Locked},
        {"ColorButtonSicuro", "Sicuri", "Colore dei messaggi sicuri", &TRowColors::Secured},
    };
    for (int i = 0; i < 4; ++i) {
        auto* button = new TColorButton(group);
        button->setObjectName(QLatin1String(pickers[i].Name));
        // The swatch has no text: a screen reader gets what it colours,
        // and the colour chosen.
        button->setToolTip(PlainToolTip(Text(pickers[i].Tip)));
        button->setAccessibleName(Text(pickers[i].Tip));
        const auto color = pickers[i].Color;
        connect(button, &TColorButton::ValueChanged, this,
                [this, color](int32_t value) { FSetup.Colors.*color = value; });
        QLabel* label = NewLabel(group, pickers[i].Caption);
        label->setBuddy(button);
        layout->addWidget(button, i / 2, (i % 2) * 2);
        layout->addWidget(label, i / 2, (i % 2) * 2 + 1);
        FColorButtons[static_cast<size_t>(i)] = button;
    }
    layout->setColumnStretch(1, 1);
    layout->setColumnStretch(3, 1);
    return group;
}

void TFormSetup::FillAccountGrid() {
    FFilling = true;
    const auto rows = FSetup.GridRows();
    QStringList titles;
    for (const std::string& title : rows[0]) titles << Win1252ToQString(title);
    FGrid->setHorizontalHeaderLabels(titles);
    FGrid->clearContents();
    FGrid->setRowCount(static_cast<int>(rows.size()) - 1);
    for (size_t r = 1; r < rows.size(); ++r) {
        for (size_t c = 0; c < rows[r].size(); ++c) {
            auto* item = new QTableWidgetItem(Win1252ToQString(rows[r][c]));
            item->setFlags(Qt::ItemIsEnabled | Qt::ItemIsSelectable);
            FGrid->setItem(static_cast<int>(r) - 1, static_cast<int>(c), item);
        }
    }
    if (FSetup.Row() > 0) {
        FGrid->setCurrentCell(FSetup.Row() - 1, 0);
        FGrid->selectRow(FSetup.Row() - 1);
    } else {
        FGrid->setCurrentCell(-1, -1);
        FGrid->clearSelection();
    }
    FFilling = false;
}

void TFormSetup::ShowOptions() {
    FFilling = true;
    for (const auto& [box, option] : FOptionBoxes) box->setChecked(FSetup.Options.*option);
    FCheckBoxStartAtLogin->setChecked(FSetup.StartAtLogin);
    FSpinEditAutoCheck->setValue(QString::fromLatin1(FSetup.Options.AutoCheckMinutes).toInt());
    FSpinEditTimeout->setValue(QString::fromLatin1(FSetup.Options.Timeout).toInt());
    FCheckBoxAutoCheckIcon->setEnabled(FSetup.AutoCheckIconEnabled());
    FColorButtons[0]->SetValue(FSetup.Colors.Normal);
    FColorButtons[1]->SetValue(FSetup.Colors.Selected);
    FColorButtons[2]->SetValue(FSetup.Colors.Locked);
    FColorButtons[3]->SetValue(FSetup.Colors.Secured);
    FFilling = false;
}

void TFormSetup::PrepareEditor(TFormEditAccount& editor) {
    editor.SignIn = [this](TAccountEditor& account, const std::function<bool()>& stop) {
        return FSetup.SignInWithBrowser(account, stop);
    };
}

void TFormSetup::BitBtnAddClick() {
    TFormEditAccount editor(this);
    PrepareEditor(editor);
    editor.SetAccount(TSetupDialog::NewAccount());
    if (editor.exec() != QDialog::Accepted) return;
    FSetup.AddAccount(editor.Account());
    FillAccountGrid();
}

void TFormSetup::BitBtnEditClick() {
    const int32_t row = FSetup.Row();
    if (!FSetup.RowShowsAccount(row)) return;
    TFormEditAccount editor(this);
    PrepareEditor(editor);
    editor.SetAccount(FSetup.AccountForEditing(row));
    if (editor.exec() != QDialog::Accepted) return;
    FSetup.ReplaceAccount(row, editor.Account());
    FillAccountGrid();
}

void TFormSetup::BitBtnDelClick() {
    FSetup.BitBtnDelClick();
    FillAccountGrid();
}

void TFormSetup::BitBtnOkClick() {
    FSetup.BitBtnOkClick();
    // Closed with OK even after a refused write: the main window then shows
    // what the file holds.
    accept();
}

bool ExecuteSetupDialog(TFormMain& form, QWidget* owner) {
    TFormSetup dialog(form, owner);
    return dialog.exec() == QDialog::Accepted;
}

}  // namespace kalmuro
