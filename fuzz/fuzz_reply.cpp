// Feeds arbitrary server bytes to the line and reply reading of the POP3
// client, with no socket: the bytes sit in the input buffer and the reading
// ends with "Not Connected" when they run out.
//
// First byte: bits 0-1 pick the line limit (0 = none, 16, 1000, 16384),
// bit 2 the split mode, bit 3 reads answers as one text (as RETR does)
// rather than as lines. The rest is a stream of server bytes read as a
// sequence of replies, each followed by a multi-line answer when positive.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <vector>

#include "mail/errors.h"
#include "mail/pop3/pop3_client.h"
#include "mail/net/session_errors.h"

namespace {

class TFeedClient : public kalmuro::TPop3Client {
public:
    using TPop3Client::AppendInput;
    using TPop3Client::ReadResponse;
};

void Check(bool condition) {
    if (!condition) std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size == 0) return 0;
    static const int32_t limits[] = {0, 16, 1000, 16384};
    TFeedClient client;
    client.MaxLineLength = limits[data[0] & 3];
    client.MaxLineAction =
        (data[0] & 4) ? kalmuro::TMaxLineAction::maSplit : kalmuro::TMaxLineAction::maException;
    client.AppendInput(std::string_view(reinterpret_cast<const char*>(data + 1), size - 1));
    int begins = 0, ends = 0;
    client.OnWorkBegin = [&](kalmuro::TTcpConnection&, kalmuro::TWorkMode, int64_t) { ++begins; };
    client.OnWorkEnd = [&](kalmuro::TTcpConnection&, kalmuro::TWorkMode) { ++ends; };
    size_t left = client.InputBufferSize();
    for (int round = 0; round < 1000; ++round) {
        try {
            const int32_t code = client.ReadResponse();
            Check(code == 1 || code == 2);
            Check(client.LastReply.TextCode == std::to_string(code));
            for (const std::string& line : client.LastReply.Text)
                Check(line.find('\n') == std::string::npos);
            const std::string first =
                client.LastReply.Text.empty() ? std::string() : client.LastReply.Text.front();
            try {
                kalmuro::StatReplyCount(first);
            } catch (const kalmuro::EConvertError&) {
            }
            (void)kalmuro::ListReplySize(first);
            if (code == 1 && (data[0] & 8)) {
                std::string text;
                client.CaptureText(text, 4096);
                Check(text.empty() || text.size() >= 2);
                Check(text.empty() || text.compare(text.size() - 2, 2, "\r\n") == 0);
            } else if (code == 1) {
                std::vector<std::string> lines;
                client.CaptureLines(lines, ".", true);
                for (const std::string& line : lines) Check(line.find('\n') == std::string::npos);
            }
        } catch (const kalmuro::EMaxLineLengthExceeded&) {
            break;  // consumes nothing: would raise for ever
        } catch (const kalmuro::ENotConnected&) {
            break;  // the bytes ran out
        } catch (const kalmuro::EMailError&) {
            // an unrecognized reply: it was consumed, go on
        }
        // Every round must consume something, or the reading is stuck.
        const size_t now = client.InputBufferSize();
        Check(now < left || now == 0);
        left = now;
        if (now == 0) break;
    }
    Check(begins == ends);
    return 0;
}
