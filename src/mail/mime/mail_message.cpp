#include "mail/mime/mail_message.h"

#include "mail/mime/encoded_words.h"
#include "mail/mime/mail_date.h"
#include "mail/text.h"

namespace kalmuro {

namespace {

// Where upperName (capitals, digits and signs only) first occurs in text with
// the letters a-z of text taken as capitals; npos when it does not.
size_t FindFolded(std::string_view text, std::string_view upperName) {
    if (upperName.empty() || text.size() < upperName.size()) return std::string_view::npos;
    const char first = upperName.front();
    const char firstLower = first >= 'A' && first <= 'Z' ? static_cast<char>(first - 'A' + 'a') : first;
    for (size_t at = 0; at + upperName.size() <= text.size(); ++at)
        if ((text[at] == first || text[at] == firstLower) &&
            SameText(text.substr(at, upperName.size()), upperName))
            return at;
    return std::string_view::npos;
}

// The value after NAME= in a content type: between double quotes when it
// starts with one, else up to the next ';'. NAME is matched in any case.
std::string_view Parameter(std::string_view value, std::string_view upperName) {
    const size_t at = FindFolded(value, upperName);
    if (at == std::string_view::npos) return std::string_view();
    const std::string_view rest = value.substr(at + upperName.size());
    if (!rest.empty() && rest[0] == '"') return rest.substr(1, rest.find('"', 1) - 1);
    return rest.substr(0, rest.find(';'));
}

std::vector<std::string> SplitNewsGroups(std::string_view value) {
    std::vector<std::string> groups;
    size_t start = 0;
    for (;;) {
        const size_t comma = value.find(',', start);
        const std::string_view group = TrimView(
            value.substr(start, comma == std::string::npos ? std::string::npos : comma - start));
        if (!group.empty()) groups.emplace_back(group);
        if (comma == std::string::npos) break;
        start = comma + 1;
    }
    return groups;
}

}  // namespace

void TMailMessage::InterpretHeaders() {
    // The order matters: an error ends the work at its header, and what the
    // check cycle reads (Subject, From, Date) must be set exactly as far as
    // the steps before the error went.
    //
    // Every value is read as a view into the header lines (or into one of
    // the two buffers below) and used before the next one is read: a copy
    // is made only where a member keeps the text.
    std::string folded, decoded;
    const auto value = [&](std::string_view name) {
        return HeaderLines.HeaderValueView(name, folded);
    };
    const auto decodedValue = [&](std::string_view name) {
        return DecodeEncodedWordsView(value(name), DecodeUtf8, decoded);
    };
    ContentType = value("Content-Type");
    CharSet = UpperCase(Parameter(ContentType, "CHARSET="));
    ContentTransferEncoding = value("Content-Transfer-Encoding");
    ContentDisposition = value("Content-Disposition");
    Subject = decodedValue("Subject");
    From.SetText(decodedValue("From"));
    MsgId = value("Message-Id");
    NewsGroups = SplitNewsGroups(value("Newsgroups"));
    ParseAddressList(decodedValue("To"), Recipients);
    ParseAddressList(decodedValue("Cc"), CCList);
    Organization = value("Organization");
    ReceiptRecipient.SetText(value("Disposition-Notification-To"));
    if (ReceiptRecipient.Name.empty() && ReceiptRecipient.Address.empty())
        ReceiptRecipient.SetText(value("Return-Receipt-To"));
    References = value("References");
    ParseAddressList(value("Reply-To"), ReplyTo);  // not decoded
    Date = ParseMailDate(value("Date"));
    Sender.SetText(value("Sender"));
    Priority = value("Priority");
    if (Priority.empty()) Priority = value("X-Priority");
    MIMEBoundary = TrimView(Parameter(ContentType, "BOUNDARY="));
}

void TMailMessage::Clear() {
    THeaderList lines = std::move(HeaderLines);
    lines.Clear();
    const bool decodeUtf8 = DecodeUtf8;
    *this = TMailMessage();
    HeaderLines = std::move(lines);
    DecodeUtf8 = decodeUtf8;
}

}  // namespace kalmuro
