#include "mail/auth/oauth_http.h"

#include <curl/curl.h>

#include <chrono>
#include <cstdlib>
#include <memory>
#include <mutex>

#include "mail/text.h"

namespace kalmuro {

namespace {

void GlobalInit() {
    static std::once_flag once;
    std::call_once(once, [] { curl_global_init(CURL_GLOBAL_DEFAULT); });
}

size_t Collect(char* data, size_t size, size_t count, void* target) {
    auto* body = static_cast<std::string*>(target);
    // An answer to a token request is small; a flood is cut off.
    if (body->size() + size * count > 1024 * 1024) return 0;
    body->append(data, size * count);
    return size * count;
}

struct TEasyDeleter {
    void operator()(CURL* easy) const { curl_easy_cleanup(easy); }
};
struct TMultiDeleter {
    void operator()(CURLM* multi) const { curl_multi_cleanup(multi); }
};

std::string NetworkText(const std::string& url, const std::string& why) {
    return "Impossibile contattare il servizio di accesso " + UrlHost(url) + ": " + why;
}

}  // namespace

std::string PercentEncode(const std::string& text) {
    static const char kDigits[] = "0123456789ABCDEF";
    std::string out;
    for (unsigned char c : text) {
        if ((c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') ||
            c == '-' || c == '.' || c == '_' || c == '~') {
            out += static_cast<char>(c);
        } else {
            out += '%';
            out += kDigits[c >> 4];
            out += kDigits[c & 15];
        }
    }
    return out;
}

std::string FormEncode(const std::vector<std::pair<std::string, std::string>>& fields) {
    std::string out;
    for (const auto& [name, value] : fields) {
        if (!out.empty()) out += '&';
        out += PercentEncode(name) + "=" + PercentEncode(value);
    }
    return out;
}

bool IsHttpsUrl(const std::string& url) {
    return url.size() > 8 && SameText(std::string_view(url).substr(0, 8), "https://");
}

std::string UrlHost(const std::string& url) {
    const size_t scheme = url.find("://");
    const size_t start = scheme == std::string::npos ? 0 : scheme + 3;
    const size_t end = url.find_first_of(":/?#", start);
    return url.substr(start, end == std::string::npos ? std::string::npos : end - start);
}

THttpAnswer HttpPostForm(const std::string& url,
                         const std::vector<std::pair<std::string, std::string>>& fields,
                         const TOAuthWait& wait) {
    if (!IsHttpsUrl(url))
        throw EOAuthError(TOAuthFailure::Insecure,
                          "Indirizzo del servizio di accesso non sicuro (serve https): " + url);
    GlobalInit();
    std::unique_ptr<CURL, TEasyDeleter> easy(curl_easy_init());
    std::unique_ptr<CURLM, TMultiDeleter> multi(curl_multi_init());
    if (!easy || !multi) throw EOAuthError(TOAuthFailure::Network, NetworkText(url, "curl"));
    THttpAnswer answer;
    const std::string body = FormEncode(fields);
    char error[CURL_ERROR_SIZE] = {0};
    CURL* e = easy.get();
    curl_easy_setopt(e, CURLOPT_URL, url.c_str());
    curl_easy_setopt(e, CURLOPT_PROTOCOLS_STR, "https");
    curl_easy_setopt(e, CURLOPT_REDIR_PROTOCOLS_STR, "https");
    curl_easy_setopt(e, CURLOPT_FOLLOWLOCATION, 0L);
    curl_easy_setopt(e, CURLOPT_SSL_VERIFYPEER, 1L);
    curl_easy_setopt(e, CURLOPT_SSL_VERIFYHOST, 2L);
    // The same authorities as POP3 over TLS, which OpenSSL finds through
    // these variables; libcurl would otherwise use only its built-in bundle.
    if (const char* file = std::getenv("SSL_CERT_FILE"); file != nullptr && *file != '\0')
        curl_easy_setopt(e, CURLOPT_CAINFO, file);
    if (const char* dir = std::getenv("SSL_CERT_DIR"); dir != nullptr && *dir != '\0')
        curl_easy_setopt(e, CURLOPT_CAPATH, dir);
    curl_easy_setopt(e, CURLOPT_POSTFIELDS, body.c_str());
    curl_easy_setopt(e, CURLOPT_POSTFIELDSIZE, static_cast<long>(body.size()));
    curl_easy_setopt(e, CURLOPT_WRITEFUNCTION, Collect);
    curl_easy_setopt(e, CURLOPT_WRITEDATA, &answer.Body);
    curl_easy_setopt(e, CURLOPT_ERRORBUFFER, error);
    curl_easy_setopt(e, CURLOPT_NOSIGNAL, 1L);
    curl_easy_setopt(e, CURLOPT_USERAGENT, "Kalmuro");
    if (wait.TimeoutMs > 0) curl_easy_setopt(e, CURLOPT_TIMEOUT_MS, static_cast<long>(wait.TimeoutMs));
    curl_slist* headers = curl_slist_append(nullptr, "Accept: application/json");
    std::unique_ptr<curl_slist, void (*)(curl_slist*)> headerList(headers, curl_slist_free_all);
    curl_easy_setopt(e, CURLOPT_HTTPHEADER, headers);
    curl_multi_add_handle(multi.get(), e);

    CURLcode result = CURLE_OK;
    for (;;) {
        int running = 0;
        curl_multi_perform(multi.get(), &running);
        int queued = 0;
        bool done = false;
        while (CURLMsg* m = curl_multi_info_read(multi.get(), &queued))
            if (m->msg == CURLMSG_DONE) {
                result = m->data.result;
                done = true;
            }
        if (done || running == 0) break;
        curl_multi_poll(multi.get(), nullptr, 0, 100, nullptr);
        if (wait.OnIdle) wait.OnIdle();
        if (wait.StopRequested && wait.StopRequested()) {
            curl_multi_remove_handle(multi.get(), e);
            throw EOAuthError(TOAuthFailure::Stopped, "Operazione interrotta");
        }
    }
    curl_multi_remove_handle(multi.get(), e);
    if (result == CURLE_OPERATION_TIMEDOUT)
        throw EOAuthError(TOAuthFailure::Network, NetworkText(url, "nessuna risposta in tempo"));
    if (result != CURLE_OK)
        throw EOAuthError(TOAuthFailure::Network,
                          NetworkText(url, *error != '\0' ? error : curl_easy_strerror(result)));
    curl_easy_getinfo(e, CURLINFO_RESPONSE_CODE, &answer.Status);
    return answer;
}

}  // namespace kalmuro
