// The four commands that add the highlighted message's sender address or
// subject to a rule list.
#include <exception>
#include <string>

#include "engine/form_main.h"
#include "engine/locale_compare.h"
#include "mail/classify.h"
#include "mail/text.h"

namespace kalmuro {

struct TFormMain::TRuleCommand {
    TRuleList TFormMain::*List;
    std::string TMessageEntry::*Field;
    const char* AlreadyPresent;
    const char* QuestionPrefix;
    const char* Result;
};

void TFormMain::RunRuleCommand(const TRuleCommand& command) {
    try {
        if (!RequireHighlightedMessage()) return;
        const int32_t index = PosMsgInArray(HighlightedRow());
        if (index < 0) return;
        // Taken now: a check may run inside the question's box and rebuild
        // the records.
        const std::string value = Messages[static_cast<size_t>(index)].*command.Field;
        const std::string entry = UpperCase(value);
        TRuleList& list = this->*command.List;
        for (const std::string& line : list.Lines) {
            if (LocaleCompareText(line, entry) == 0) {
                ShowInformation(command.AlreadyPresent);
                return;
            }
        }
        if (!AskConfirmation(command.QuestionPrefix + value + " ?", 1)) return;
        list.Lines.push_back(Trim(entry));
        SortLocaleText(list.Lines);
        // A failed save ends the command with the error's own text; the
        // entry stays in the list in memory.
        list.SaveToFile();
        ShowStatus(kClassifyStatus);
        ClassifyMessages(Messages, {BlockedSenders, SafeSenders, BlockedSubjects, SafeSubjects},
                         [this] { PumpMessages(); });
        ClearStatus();
        // The ticks stay as they are; only the colours follow the new marks.
        Screen.RowsRepaint();
        ShowInformation(command.Result);
    } catch (const std::exception& e) {
        ReportError(e);
    }
}

void TFormMain::Bloccamittente1Click() {
    RunRuleCommand({&TFormMain::BlockedSenders, &TMessageEntry::FromAddress,
                    "Questo mittente risulta gi\xE0 bloccato.",  // già
                    "Inserire tra i mittenti bloccati \\n",
                    "I futuri messaggi provenienti da questo mittente\\nsaranno automaticamente "
                    "selezionati per l'eliminazione."});
}

void TFormMain::Bloccaoggetto1Click() {
    RunRuleCommand({&TFormMain::BlockedSubjects, &TMessageEntry::Subject,
                    "Questo oggetto risulta gi\xE0 bloccato.",  // già
                    "Inserire tra gli oggetti bloccati \\n",
                    "I futuri messaggi con questo oggetto verranno\\nautomaticamente "
                    "selezionati per l'eliminazione."});
}

void TFormMain::Accettasempreilmittente1Click() {
    RunRuleCommand({&TFormMain::SafeSenders, &TMessageEntry::FromAddress,
                    "Questo mittente risulta gi\xE0 sicuro.",  // già
                    "Inserire tra i mittenti sicuri\\n",
                    "I futuri messaggi provenienti da questo\\nmittente verranno sempre "
                    "accettati."});
}

void TFormMain::Accettasempreloggetto1Click() {
    RunRuleCommand({&TFormMain::SafeSubjects, &TMessageEntry::Subject,
                    "Questo oggetto risulta gi\xE0 sicuro.",  // già
                    "Inserire tra gli oggetti sicuri\\n",
                    "I futuri messaggi con questo\\noggetto verranno sempre accettati."});
}

}  // namespace kalmuro
