// Every fixed text of the main window, the about window, the tray menu and
// the message box, byte for byte (Windows-1252), with the few sizes the
// texts go with. A screen shows these; it never spells its own.
//
// A "\\n" inside a text is the two-character line-break marker that
// ExpandNewlines turns into a line break.
#pragma once

#include <array>
#include <cstdint>

namespace kalmuro {

// The application title: caption prefix, tray tip and balloon title.
inline constexpr const char* kAppTitle = "Quorvane Kalmuro";

// The maker's web site; OpenMakerPage appends a page to it.
inline constexpr const char* kMakerSite = "https://www.quorvane.example";
// The page the splash and the about window open.
inline constexpr const char* kMakerPageInfo = "kalmuro.asp";

// --- Main window: buttons and their hints ------------------------------------
inline constexpr const char* kCaptionStop = "Stop";
inline constexpr const char* kHintStop = "Interrompe l'operazione in corso";
inline constexpr const char* kCaptionRecycle = "Apri\\ncestino";
// The misspelling is the window's own.
inline constexpr const char* kHintRecycle =
    "Apre la cartella del Cestino conentente i messaggi eliminati";
inline constexpr const char* kCaptionInfo = "Info";
inline constexpr const char* kHintInfo = "Informazioni sul programma e sulla licenza d'uso";
inline constexpr const char* kCaptionCheck = "Controlla posta";
inline constexpr const char* kHintCheck =
    "Controlla subito la posta elettronica presente sul server";
inline constexpr const char* kCaptionDelete = "Elimina";
inline constexpr const char* kCaptionDeleteToRecycle = "Sposta nel\\nCestino";
inline constexpr const char* kHintDelete =
    "Elimina tutti i messaggi selezionati\\n<Shift> inverte il tipo di eliminazione";
inline constexpr const char* kCaptionSetup = "Impostazioni";
inline constexpr const char* kHintSetup = "Impostazioni di funzionamento del programma";
inline constexpr const char* kHintLogo = "Fare clic per aprire il sito della Quorvane";

// --- The message list's columns ------------------------------------------------
inline constexpr int32_t kColumnCount = 5;
// Column 0 holds only the check box and has no caption.
inline constexpr std::array<const char*, kColumnCount> kColumnCaptions = {
    "", "Mittente", "Oggetto", "Data e ora", "Dimensione"};
inline constexpr std::array<int32_t, kColumnCount> kColumnWidths = {20, 155, 235, 110, 50};
// The caption of the mailbox item that stands for every account.
inline constexpr const char* kAllAccountsCaption = "Tutti gli accounts";
// A row's own caption: the check-box column shows it.
inline constexpr const char* kRowCaption = " ";

// --- The message list's context menu -------------------------------------------
inline constexpr const char* kCaptionViewHeader = "Visualizza solo l'intestazione del messaggio";
inline constexpr const char* kCaptionViewMessage = "Visualizza tutto il contenuto del messaggio";
inline constexpr const char* kCaptionSave = "Salva il messaggio su file...";
inline constexpr const char* kCaptionBlockSender = "Blocca il mittente del messaggio evidenziato";
inline constexpr const char* kCaptionBlockSubject = "Blocca l'oggetto del messaggio evidenziato";
inline constexpr const char* kCaptionAcceptSender =
    "Accetta sempre il mittente del messaggio evidenziato";
// Two blanks before "messaggio", as the menu has always shown it.
inline constexpr const char* kCaptionAcceptSubject =
    "Accetta sempre l'oggetto del  messaggio evidenziato";
inline constexpr const char* kCaptionSelectAll = "Seleziona tutto";
inline constexpr const char* kCaptionSelectNone = "Deseleziona tutto";
inline constexpr const char* kCaptionInvertSelection = "Inverti selezione";

// The caption of the message viewer.
inline constexpr const char* kCaptionViewer = "Messaggio originale";

// --- The tray menu ----------------------------------------------------------------
inline constexpr const char* kCaptionTrayInfo = "Info su...";
inline constexpr const char* kCaptionTrayToggle = "Ripristina/Riduci a icona";
inline constexpr const char* kCaptionTrayCheck = "Controlla posta";
inline constexpr const char* kCaptionTrayRecycle = "Apri cestino";
inline constexpr const char* kCaptionTrayClose = "Chiudi";

// --- The splash and about window ---------------------------------------------------
inline constexpr const char* kCaptionInfoWindow = "Info";
inline constexpr const char* kCaptionOk = "OK";

// --- The message box ------------------------------------------------------------------
inline constexpr const char* kTitleInformation = "Informazione";
inline constexpr const char* kTitleConfirmation = "Conferma";
inline constexpr const char* kTitleError = "Errore";
// Button captions; "&" marks the access key.
inline constexpr const char* kCaptionBtnOk = "OK";
inline constexpr const char* kCaptionBtnSi = "&Si";
inline constexpr const char* kCaptionBtnNo = "&No";
inline constexpr const char* kCaptionBtnAnnulla = "&Annulla";

}  // namespace kalmuro
