#include "HttpClient.h"

#include "Multistatus.h"

#include <curl/curl.h>

#include <algorithm>
#include <cctype>
#include <thread>

namespace tesselby {

namespace {

// A success's body kept whole (a card with a large photo) is refused beyond this; an error's is cut here.
constexpr std::size_t kLongestBody = std::size_t(64) << 20;
constexpr std::size_t kLongestErrorBody = std::size_t(1) << 20;

struct Exchange {
    const HttpRequest* request = nullptr;
    HttpResponse* response = nullptr;
    long retryAfter = -1;
    bool stoppedByReader = false;
    bool tooLarge = false;
};

bool headerIs(std::string_view line, std::string_view name)
{
    if (line.size() <= name.size() || line[name.size()] != ':')
        return false;
    for (std::size_t i = 0; i < name.size(); ++i)
        if (std::tolower(static_cast<unsigned char>(line[i])) != name[i])
            return false;
    return true;
}

std::string headerValue(std::string_view line)
{
    line.remove_prefix(line.find(':') + 1);
    while (!line.empty() && (line.front() == ' ' || line.front() == '\t'))
        line.remove_prefix(1);
    while (!line.empty() && (line.back() == '\r' || line.back() == '\n' || line.back() == ' '))
        line.remove_suffix(1);
    return std::string(line);
}

std::size_t onHeader(char* bytes, std::size_t size, std::size_t count, void* data)
{
    auto& exchange = *static_cast<Exchange*>(data);
    const std::string_view line(bytes, size * count);
    // A redirect's headers come first; each new status line starts the answer again.
    if (line.starts_with("HTTP/")) {
        // Known before the body arrives, so that the body's reader can tell a success's body.
        exchange.response->status = statusLineCode(line);
        exchange.response->etag.clear();
        exchange.response->location.clear();
        exchange.response->contentType.clear();
        exchange.retryAfter = -1;
    } else if (headerIs(line, "etag")) {
        exchange.response->etag = headerValue(line);
    } else if (headerIs(line, "location")) {
        exchange.response->location = headerValue(line);
    } else if (headerIs(line, "content-type")) {
        exchange.response->contentType = headerValue(line);
    } else if (headerIs(line, "retry-after")) {
        const std::string value = headerValue(line);
        if (!value.empty() && std::all_of(value.begin(), value.end(), [](char c) { return c >= '0' && c <= '9'; }))
            exchange.retryAfter = value.size() > 6 ? 999999 : std::stol(value);
        else
            exchange.retryAfter = 5; // an HTTP date: waited for as a short while
    }
    return size * count;
}

std::size_t onBody(char* bytes, std::size_t size, std::size_t count, void* data)
{
    auto& exchange = *static_cast<Exchange*>(data);
    const std::string_view piece(bytes, size * count);
    const bool success = exchange.response->status >= 200 && exchange.response->status < 300;
    // Only a success's body is streamed; an error's is kept for the message.
    if (exchange.request->onBody && success) {
        if (!exchange.request->onBody(piece)) {
            exchange.stoppedByReader = true;
            return 0;
        }
        return piece.size();
    }
    std::string& body = exchange.response->body;
    // A success's body cut short would be a card cut short: it is whole or refused.
    if (success && body.size() + piece.size() > kLongestBody) {
        exchange.tooLarge = true;
        return 0;
    }
    if (body.size() < kLongestErrorBody || success)
        body.append(piece.substr(0, success ? piece.size() : kLongestErrorBody - body.size()));
    return piece.size();
}

int hexDigit(char c)
{
    if (c >= '0' && c <= '9')
        return c - '0';
    if (c >= 'a' && c <= 'f')
        return c - 'a' + 10;
    if (c >= 'A' && c <= 'F')
        return c - 'A' + 10;
    return -1;
}

} // namespace

HttpClient::HttpClient(HttpSettings settings) : m_settings(std::move(settings))
{
    static const CURLcode globalInit = curl_global_init(CURL_GLOBAL_DEFAULT);
    (void)globalInit;
    m_curl = curl_easy_init();
    if (m_curl == nullptr)
        throw std::bad_alloc();
}

HttpClient::~HttpClient()
{
    curl_easy_cleanup(static_cast<CURL*>(m_curl));
}

std::optional<HttpResponse> HttpClient::send(const HttpRequest& request, std::string& why)
{
    auto waited = std::chrono::seconds(0);
    for (;;) {
        long retryAfter = -1;
        std::optional<HttpResponse> response = sendOnce(request, why, retryAfter);
        if (!response || (response->status != 429 && response->status != 503))
            return response;
        const auto wait = std::chrono::seconds(retryAfter < 0 ? 2 : retryAfter);
        if (waited + wait > m_settings.longestWait)
            return response;
        if (m_settings.log != nullptr)
            *m_settings.log << "waiting " << wait.count() << " s, as the server asked\n";
        std::this_thread::sleep_for(wait);
        waited += wait;
    }
}

std::optional<HttpResponse> HttpClient::sendOnce(const HttpRequest& request, std::string& why, long& retryAfter)
{
    CURL* curl = static_cast<CURL*>(m_curl);
    curl_easy_reset(curl);
    HttpResponse response;
    Exchange exchange{&request, &response};
    ++m_requests;
    if (m_settings.log != nullptr)
        *m_settings.log << request.method << ' ' << request.url << '\n';

    curl_slist* headers = nullptr;
    for (const std::string& header : request.headers)
        headers = curl_slist_append(headers, header.c_str());
    // A body is sent as it is, without curl's "Expect: 100-continue" pause.
    headers = curl_slist_append(headers, "Expect:");
    curl_easy_setopt(curl, CURLOPT_URL, request.url.c_str());
    curl_easy_setopt(curl, CURLOPT_CUSTOMREQUEST, request.method.c_str());
    curl_easy_setopt(curl, CURLOPT_HTTPHEADER, headers);
    curl_easy_setopt(curl, CURLOPT_PROTOCOLS_STR, "http,https");
    curl_easy_setopt(curl, CURLOPT_REDIR_PROTOCOLS_STR, "http,https");
    curl_easy_setopt(curl, CURLOPT_FOLLOWLOCATION, 1L);
    curl_easy_setopt(curl, CURLOPT_MAXREDIRS, 5L);
    // The method and its body go to where a redirect points, as the server asked (301 and 302 too).
    curl_easy_setopt(curl, CURLOPT_POSTREDIR, static_cast<long>(CURL_REDIR_POST_ALL));
    curl_easy_setopt(curl, CURLOPT_SSL_VERIFYPEER, 1L);
    curl_easy_setopt(curl, CURLOPT_SSL_VERIFYHOST, 2L);
    if (!m_settings.caFile.empty())
        curl_easy_setopt(curl, CURLOPT_CAINFO, m_settings.caFile.c_str());
    const long connectWithin = std::min(30L, static_cast<long>(m_settings.timeout.count()));
    curl_easy_setopt(curl, CURLOPT_CONNECTTIMEOUT, connectWithin);
    // A server that stops answering mid-way is given up on, however long the whole answer may take.
    curl_easy_setopt(curl, CURLOPT_LOW_SPEED_LIMIT, 1L);
    curl_easy_setopt(curl, CURLOPT_LOW_SPEED_TIME, static_cast<long>(m_settings.timeout.count()));
    curl_easy_setopt(curl, CURLOPT_NOSIGNAL, 1L);
    if (!m_settings.user.empty()) {
        curl_easy_setopt(curl, CURLOPT_HTTPAUTH, static_cast<long>(CURLAUTH_BASIC | CURLAUTH_DIGEST));
        curl_easy_setopt(curl, CURLOPT_USERNAME, m_settings.user.c_str());
        curl_easy_setopt(curl, CURLOPT_PASSWORD, m_settings.password.c_str());
        // The password goes to the host it was given for, never to one a redirect points to.
        curl_easy_setopt(curl, CURLOPT_UNRESTRICTED_AUTH, 0L);
    }
    curl_easy_setopt(curl, CURLOPT_HEADERFUNCTION, onHeader);
    curl_easy_setopt(curl, CURLOPT_HEADERDATA, &exchange);
    curl_easy_setopt(curl, CURLOPT_WRITEFUNCTION, onBody);
    curl_easy_setopt(curl, CURLOPT_WRITEDATA, &exchange);
    if (!request.body.empty() || request.method == "PUT") {
        // Given whole, so that curl can send it again after an authentication's first round or a redirect.
        curl_easy_setopt(curl, CURLOPT_POSTFIELDS, request.body.data());
        curl_easy_setopt(curl, CURLOPT_POSTFIELDSIZE_LARGE, static_cast<curl_off_t>(request.body.size()));
    }
    if (request.method == "HEAD")
        curl_easy_setopt(curl, CURLOPT_NOBODY, 1L);

    char error[CURL_ERROR_SIZE] = {};
    curl_easy_setopt(curl, CURLOPT_ERRORBUFFER, error);
    const CURLcode code = curl_easy_perform(curl);
    curl_slist_free_all(headers);
    retryAfter = exchange.retryAfter;
    if (code != CURLE_OK) {
        if (exchange.stoppedByReader) {
            why = "the server's answer could not be read";
            return std::nullopt;
        }
        if (exchange.tooLarge) {
            why = "the server's answer is larger than " + std::to_string(kLongestBody >> 20) + " MiB";
            return std::nullopt;
        }
        why = error[0] != '\0' ? error : curl_easy_strerror(code);
        if (code == CURLE_OPERATION_TIMEDOUT) {
            // curl words a connection's timeout "Connection timed out" or "Failed to connect"; a reused
            // connection has no connect time to tell by.
            const bool connecting = std::string_view(error).find("onnect") != std::string_view::npos;
            why = connecting ? "no connection to the server within " + std::to_string(connectWithin) + " s"
                             : "the server did not answer for " + std::to_string(m_settings.timeout.count()) + " s";
        } else if (code == CURLE_PARTIAL_FILE || code == CURLE_RECV_ERROR || code == CURLE_GOT_NOTHING) {
            why = "the connection was cut off before the server's answer was complete (" + why + ")";
        }
        if (code == CURLE_PEER_FAILED_VERIFICATION || code == CURLE_SSL_CACERT_BADFILE)
            why += " (a server with a certificate of its own is trusted with --ca-file FILE)";
        return std::nullopt;
    }
    long status = 0;
    curl_easy_getinfo(curl, CURLINFO_RESPONSE_CODE, &status);
    response.status = static_cast<int>(status);
    char* effective = nullptr;
    if (curl_easy_getinfo(curl, CURLINFO_EFFECTIVE_URL, &effective) == CURLE_OK && effective != nullptr)
        response.url = effective;
    if (m_settings.log != nullptr)
        *m_settings.log << "  " << response.status << '\n';
    return response;
}

std::string resolveUrl(std::string_view base, std::string_view path)
{
    if (path.find("://") != std::string_view::npos)
        return std::string(path);
    const std::size_t scheme = base.find("://");
    const std::size_t hostEnd = base.find('/', scheme == std::string_view::npos ? 0 : scheme + 3);
    const std::string_view origin = base.substr(0, hostEnd);
    if (path.starts_with("/"))
        return std::string(origin) + std::string(path);
    std::string_view folder = hostEnd == std::string_view::npos ? std::string_view("/") : base.substr(hostEnd);
    folder = folder.substr(0, folder.rfind('/') + 1);
    return std::string(origin) + std::string(folder) + std::string(path);
}

std::string urlPathKey(std::string_view url)
{
    if (const std::size_t scheme = url.find("://"); scheme != std::string_view::npos) {
        const std::size_t slash = url.find('/', scheme + 3);
        url = slash == std::string_view::npos ? std::string_view("/") : url.substr(slash);
    }
    std::string key;
    for (std::size_t i = 0; i < url.size(); ++i) {
        if (url[i] == '%' && i + 2 < url.size() && hexDigit(url[i + 1]) >= 0 && hexDigit(url[i + 2]) >= 0) {
            key += static_cast<char>(hexDigit(url[i + 1]) * 16 + hexDigit(url[i + 2]));
            i += 2;
        } else {
            key += url[i];
        }
    }
    return key;
}

} // namespace tesselby
