#include "mail/mime/mail_message.h"

#include "mail/mime/encoded_words.h"
#include "mail/mime/mail_date.h"
#include "mail/text.h"

namespace kalmuro {

namespace {

// The value after NAME= in a content type: between double quotes when it
// starts with one, else up to the next ';'.
std::string Parameter(const std::string& value, std::string_view upperName) {
    const std::string upper = UpperCase(value);
    const size_t at = upper.find(upperName);
    if (at == std::string::npos) return std::string();
    const std::string_view rest = std::string_view(value).substr(at + upperName.size());
    if (!rest.empty() && rest[0] == '"') return std::string(rest.substr(1, rest.find('"', 1) - 1));
    return std::string(rest.substr(0, rest.find(';')));
}

std::vector<std::string> SplitNewsGroups(const std::string& value) {
    std::vector<std::string> groups;
    size_t start = 0;
    for (;;) {
        const size_t comma = value.find(',', start);
        std::string group = Trim(std::string_view(value).substr(
            start, comma == std::string::npos ? std::string::npos : comma - start));
        if (!group.empty()) groups.push_back(std::move(group));
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
    const THeaderList& h = HeaderLines;
    ContentType = h.HeaderValue("Content-Type");
    CharSet = Parameter(UpperCase(ContentType), "CHARSET=");
    ContentTransferEncoding = h.HeaderValue("Content-Transfer-Encoding");
    ContentDisposition = h.HeaderValue("Content-Disposition");
    Subject = DecodeEncodedWords(h.HeaderValue("Subject"), DecodeUtf8);
    From.SetText(DecodeEncodedWords(h.HeaderValue("From"), DecodeUtf8));
    MsgId = h.HeaderValue("Message-Id");
    NewsGroups = SplitNewsGroups(h.HeaderValue("Newsgroups"));
    ParseAddressList(DecodeEncodedWords(h.HeaderValue("To"), DecodeUtf8), Recipients);
    ParseAddressList(DecodeEncodedWords(h.HeaderValue("Cc"), DecodeUtf8), CCList);
    Organization = h.HeaderValue("Organization");
    ReceiptRecipient.SetText(h.HeaderValue("Disposition-Notification-To"));
    if (ReceiptRecipient.Name.empty() && ReceiptRecipient.Address.empty())
        ReceiptRecipient.SetText(h.HeaderValue("Return-Receipt-To"));
    References = h.HeaderValue("References");
    ParseAddressList(h.HeaderValue("Reply-To"), ReplyTo);  // not decoded
    Date = ParseMailDate(h.HeaderValue("Date"));
    Sender.SetText(h.HeaderValue("Sender"));
    Priority = h.HeaderValue("Priority");
    if (Priority.empty()) Priority = h.HeaderValue("X-Priority");
    MIMEBoundary = Trim(Parameter(ContentType, "BOUNDARY="));
}

}  // namespace kalmuro
