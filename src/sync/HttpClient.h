#pragma once

#include <chrono>
#include <functional>
#include <memory>
#include <optional>
#include <ostream>
#include <string>
#include <string_view>
#include <vector>

namespace tesselby {

struct HttpSettings {
    std::string user;
    std::string password; // never logged
    std::string caFile;   // a certificate to trust besides the system's
    std::chrono::seconds timeout{120};
    // How long a 429 or 503 answer's Retry-After is waited for, in all, before the sync gives up.
    std::chrono::seconds longestWait{300};
    std::ostream* log = nullptr; // --verbose: each request line and its status
};

struct HttpRequest {
    std::string method;
    std::string url;
    std::vector<std::string> headers;
    std::string body;
    // Where the answer's body goes as it arrives, when set; else it is kept in the response.
    std::function<bool(std::string_view)> onBody;
};

struct HttpResponse {
    int status = 0;
    std::string etag;
    std::string location;
    std::string contentType;
    std::string body;
    std::string url; // after any redirects
};

// HTTP through libcurl: Basic or Digest, redirects followed, certificates always checked. A request
// fails (with why) only when no answer came: every status is an answer the caller reads.
class HttpClient {
public:
    explicit HttpClient(HttpSettings settings);
    ~HttpClient();
    HttpClient(const HttpClient&) = delete;
    HttpClient& operator=(const HttpClient&) = delete;

    // Answers 429 and 503 are tried again after their Retry-After (a few seconds when they give none),
    // up to the settings' longest wait.
    std::optional<HttpResponse> send(const HttpRequest& request, std::string& why);

    std::size_t requestCount() const { return m_requests; }

private:
    std::optional<HttpResponse> sendOnce(const HttpRequest& request, std::string& why, long& retryAfter);

    HttpSettings m_settings;
    void* m_curl = nullptr;
    std::size_t m_requests = 0;
};

// The URL with the path replaced by path (when path starts with /) or path resolved against it.
std::string resolveUrl(std::string_view base, std::string_view path);
// The URL's path and what follows it, for comparing hrefs; percent-escapes decoded.
std::string urlPathKey(std::string_view url);

} // namespace tesselby
