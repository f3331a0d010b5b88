// Feeds arbitrary server bytes to the IMAP response parser, as one response
// and as the stream of lines the client cuts it into, and checks what it
// gives back against the bytes it was given.
//
// Also round-trips the bytes through base64 and encodes them as a mailbox
// name, the two texts the client derives from untrusted or typed input.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <optional>
#include <string>
#include <string_view>

#include "mail/auth/sasl.h"
#include "mail/imap/imap_response.h"
#include "mail/imap/imap_text.h"

namespace {

using kalmuro::TImapItem;
using kalmuro::TImapResponse;
using kalmuro::TImapResponseKind;

void Check(bool condition) {
    if (!condition) std::abort();
}

// Every string came out of the bytes: together no longer than they are.
size_t StringBytes(const std::vector<TImapItem>& items, int depth) {
    Check(depth <= 64);
    size_t total = 0;
    for (const TImapItem& item : items) {
        if (item.Kind == TImapItem::TKind::List) {
            Check(item.Text.empty());
            total += StringBytes(item.Items, depth + 1);
        } else {
            Check(item.Items.empty());
            total += item.Text.size();
        }
    }
    return total;
}

void ParseOne(std::string_view bytes) {
    TImapResponse r;
    try {
        kalmuro::ParseImapResponse(bytes, r);
    } catch (const kalmuro::EImapParseError&) {
        return;
    }
    Check(StringBytes(r.Data, 0) <= bytes.size());
    if (r.Kind == TImapResponseKind::Tagged) {
        Check(!r.Tag.empty());
        Check(r.Keyword == "OK" || r.Keyword == "NO" || r.Keyword == "BAD");
    }
    if (r.Kind != TImapResponseKind::Continuation) Check(!r.Keyword.empty());
    if (r.Keyword == "FETCH") {
        Check(r.HasNumber && r.Data.size() == 1 && r.Data[0].Kind == TImapItem::TKind::List);
        (void)kalmuro::FetchAttribute(r.Data[0], "UID");
        uint32_t uid = 0;
        if (const TImapItem* item = kalmuro::FetchAttribute(r.Data[0], "UID"))
            (void)kalmuro::ParseImapNumber(item->Text, uid);
    }
    if (!r.Code.empty()) Check(r.Code.find(' ') == std::string::npos);
    for (const std::string& word : kalmuro::SplitAtBlanks(r.CodeText)) Check(!word.empty());
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string_view bytes(reinterpret_cast<const char*>(data), size);
    ParseOne(bytes);
    // As the client reads them: a line, and each literal it announces with
    // the bytes that follow it, up to the end of the input.
    size_t start = 0, pos = 0;
    while (pos < bytes.size()) {
        size_t lf = bytes.find('\n', pos);
        if (lf == std::string_view::npos) lf = bytes.size() - 1;
        uint64_t count = 0;
        size_t end = lf + 1;
        if (kalmuro::LiteralAnnounced(bytes.substr(pos, end - pos), count)) {
            if (count > bytes.size() - end) break;
            pos = end + static_cast<size_t>(count);
            continue;
        }
        ParseOne(bytes.substr(start, end - start));
        start = pos = end;
    }
    const std::optional<std::string> back = kalmuro::Base64Decode(kalmuro::Base64Encode(bytes));
    Check(back && *back == bytes);
    const std::string name = kalmuro::EncodeMailboxName(bytes);
    Check(kalmuro::QuotableText(name) || name.size() > 1000);
    return 0;
}
