#include "Multistatus.h"

#include <expat.h>

#include <cstring>
#include <vector>

namespace tesselby {

namespace {

// The elements the reader acts on, named as expat gives them: namespace, a space, local name.
enum class Element {
    Other,
    Multistatus,
    Response,
    Href,
    Status,
    Propstat,
    Prop,
    GetEtag,
    AddressData,
    DisplayName,
    ResourceType,
    Collection,
    AddressBook,
    CurrentUserPrincipal,
    AddressBookHomeSet,
    SyncToken,
    SyncCollection,
    SupportedAddressData,
    CardDavOther,
};

Element elementOf(const char* name)
{
    constexpr std::string_view dav = "DAV: ";
    constexpr std::string_view carddav = "urn:ietf:params:xml:ns:carddav ";
    const std::string_view full = name;
    if (full.starts_with(dav)) {
        const std::string_view local = full.substr(dav.size());
        static constexpr std::pair<std::string_view, Element> davNames[] = {
            {"multistatus", Element::Multistatus},
            {"response", Element::Response},
            {"href", Element::Href},
            {"status", Element::Status},
            {"propstat", Element::Propstat},
            {"prop", Element::Prop},
            {"getetag", Element::GetEtag},
            {"displayname", Element::DisplayName},
            {"resourcetype", Element::ResourceType},
            {"collection", Element::Collection},
            {"current-user-principal", Element::CurrentUserPrincipal},
            {"sync-token", Element::SyncToken},
            {"sync-collection", Element::SyncCollection},
        };
        for (const auto& [text, element] : davNames)
            if (local == text)
                return element;
        return Element::Other;
    }
    if (full.starts_with(carddav)) {
        const std::string_view local = full.substr(carddav.size());
        if (local == "address-data")
            return Element::AddressData;
        if (local == "addressbook")
            return Element::AddressBook;
        if (local == "addressbook-home-set")
            return Element::AddressBookHomeSet;
        if (local == "supported-address-data")
            return Element::SupportedAddressData;
        return Element::CardDavOther;
    }
    return Element::Other;
}

bool isSuccess(int status)
{
    return status >= 200 && status < 300;
}

} // namespace

int statusLineCode(std::string_view line)
{
    // "HTTP/1.1 200 OK": the three digits after the first space.
    const std::size_t space = line.find(' ');
    if (space == std::string_view::npos || line.size() < space + 4)
        return 0;
    int code = 0;
    for (std::size_t i = space + 1; i < space + 4; ++i) {
        if (line[i] < '0' || line[i] > '9')
            return 0;
        code = code * 10 + (line[i] - '0');
    }
    return code;
}

class MultistatusReader::State {
public:
    State(MultistatusReader& reader, std::function<void(const DavResponse&)> onResponse)
        : m_reader(reader), m_onResponse(std::move(onResponse)), m_parser(XML_ParserCreateNS(nullptr, ' '))
    {
        if (m_parser == nullptr)
            throw std::bad_alloc();
        XML_SetUserData(m_parser, this);
        XML_SetElementHandler(m_parser, &State::start, &State::end);
        XML_SetCharacterDataHandler(m_parser, &State::text);
        // No answer of a server needs a document type; refusing one keeps entity tricks out.
        XML_SetStartDoctypeDeclHandler(m_parser, &State::doctype);
    }
    ~State() { XML_ParserFree(m_parser); }

    bool parse(const char* bytes, std::size_t size, bool last)
    {
        // expat takes an int length; a larger piece is given in parts.
        constexpr std::size_t kMostAtOnce = std::size_t(1) << 30;
        do {
            const std::size_t part = std::min(size, kMostAtOnce);
            size -= part;
            if (XML_Parse(m_parser, bytes, static_cast<int>(part), last && size == 0) != XML_STATUS_OK) {
                if (m_why.empty())
                    m_why = std::string("the server's answer is not well-formed XML (line ") +
                            std::to_string(XML_GetCurrentLineNumber(m_parser)) +
                            "): " + XML_ErrorString(XML_GetErrorCode(m_parser));
                return false;
            }
            bytes += part;
        } while (size > 0);
        if (last && !m_sawRoot) {
            m_why = "the server's answer holds no multistatus";
            return false;
        }
        return true;
    }

    const std::string& why() const { return m_why; }

private:
    static void start(void* data, const char* name, const char** attributes)
    {
        static_cast<State*>(data)->opened(elementOf(name), attributes);
    }
    static void end(void* data, const char*) { static_cast<State*>(data)->closed(); }
    static void text(void* data, const char* bytes, int size)
    {
        static_cast<State*>(data)->addText(std::string_view(bytes, static_cast<std::size_t>(size)));
    }
    static void doctype(void* data, const char*, const char*, const char*, int)
    {
        static_cast<State*>(data)->stop("the server's answer declares a document type, which no answer needs");
    }

    void stop(const std::string& why)
    {
        if (m_why.empty())
            m_why = why;
        m_stopped = true;
        XML_StopParser(m_parser, XML_FALSE);
    }

    Element parent(std::size_t up = 1) const
    {
        return m_open.size() > up ? m_open[m_open.size() - 1 - up] : Element::Other;
    }

    void opened(Element element, const char** attributes)
    {
        // expat may still report the end of the element it was stopped in.
        if (m_stopped)
            return;
        if (m_open.empty()) {
            if (element != Element::Multistatus)
                return stop("the server's answer is not a multistatus");
            m_sawRoot = true;
        }
        m_open.push_back(element);
        m_text.clear();
        m_inText = false;
        const Element above = parent();
        switch (element) {
        case Element::Response:
            if (above == Element::Multistatus) {
                m_response = DavResponse();
                m_inResponse = true;
            }
            break;
        case Element::Propstat:
            if (m_inResponse) {
                m_props = DavResponse();
                m_propStatus = 0;
                m_inPropstat = true;
            }
            break;
        case Element::Href:
        case Element::Status:
        case Element::GetEtag:
        case Element::AddressData:
        case Element::DisplayName:
        case Element::SyncToken:
            m_inText = true;
            break;
        case Element::Collection:
            if (m_inPropstat && above == Element::ResourceType)
                m_props.isCollection = true;
            break;
        case Element::AddressBook:
            if (m_inPropstat && above == Element::ResourceType)
                m_props.isAddressBook = true;
            break;
        case Element::SyncCollection:
            if (m_inPropstat)
                m_props.offersSyncCollection = true;
            break;
        case Element::CardDavOther:
            // RFC 6352 names it address-data-type; some servers write content-type.
            if (m_inPropstat && above == Element::SupportedAddressData)
                takeDataType(attributes);
            break;
        default:
            break;
        }
    }

    void takeDataType(const char** attributes)
    {
        std::string_view type = "text/vcard", version;
        for (; attributes[0] != nullptr; attributes += 2) {
            if (std::strcmp(attributes[0], "content-type") == 0)
                type = attributes[1];
            else if (std::strcmp(attributes[0], "version") == 0)
                version = attributes[1];
        }
        if (type == "text/vcard" && !version.empty() && m_props.cardVersions.size() < 8)
            m_props.cardVersions.emplace_back(version);
    }

    void addText(std::string_view bytes)
    {
        if (!m_inText || m_stopped)
            return;
        if (m_text.size() + bytes.size() > kLongestText)
            return stop("the server's answer holds a value larger than " + std::to_string(kLongestText >> 20) + " MiB");
        m_text.append(bytes);
    }

    void closed()
    {
        if (m_stopped || m_open.empty())
            return;
        const Element element = m_open.back();
        m_open.pop_back();
        const Element above = parent(0);
        std::string text = m_inText ? std::move(m_text) : std::string();
        m_text.clear();
        m_inText = false;
        switch (element) {
        case Element::Href:
            if (above == Element::Response && m_inResponse)
                m_response.href = trimmed(text);
            else if (above == Element::CurrentUserPrincipal && m_inPropstat)
                m_props.currentUserPrincipal = trimmed(text);
            else if (above == Element::AddressBookHomeSet && m_inPropstat && m_props.addressBookHomeSet.empty())
                m_props.addressBookHomeSet = trimmed(text);
            break;
        case Element::Status:
            if (above == Element::Response && m_inResponse)
                m_response.status = statusLineCode(trimmed(text));
            else if (above == Element::Propstat && m_inPropstat)
                m_propStatus = statusLineCode(trimmed(text));
            break;
        case Element::GetEtag:
            if (above == Element::Prop && m_inPropstat)
                m_props.etag = trimmed(text);
            break;
        case Element::AddressData:
            if (above == Element::Prop && m_inPropstat)
                m_props.addressData = std::move(text);
            break;
        case Element::DisplayName:
            if (above == Element::Prop && m_inPropstat)
                m_props.displayName = trimmed(text);
            break;
        case Element::SyncToken:
            if (above == Element::Multistatus)
                m_reader.m_syncToken = trimmed(text);
            break;
        case Element::Propstat:
            if (m_inPropstat) {
                m_inPropstat = false;
                // A propstat without a status is taken as found, as some servers write it.
                if (m_propStatus == 0 || isSuccess(m_propStatus))
                    takeProps();
            }
            break;
        case Element::Response:
            if (m_inResponse && above == Element::Multistatus) {
                m_inResponse = false;
                ++m_reader.m_responses;
                m_onResponse(m_response);
            }
            break;
        default:
            break;
        }
    }

    void takeProps()
    {
        if (m_props.etag)
            m_response.etag = std::move(m_props.etag);
        if (m_props.addressData)
            m_response.addressData = std::move(m_props.addressData);
        if (!m_props.displayName.empty())
            m_response.displayName = std::move(m_props.displayName);
        m_response.isCollection |= m_props.isCollection;
        m_response.isAddressBook |= m_props.isAddressBook;
        if (!m_props.currentUserPrincipal.empty())
            m_response.currentUserPrincipal = std::move(m_props.currentUserPrincipal);
        if (!m_props.addressBookHomeSet.empty())
            m_response.addressBookHomeSet = std::move(m_props.addressBookHomeSet);
        m_response.offersSyncCollection |= m_props.offersSyncCollection;
        if (!m_props.cardVersions.empty())
            m_response.cardVersions = std::move(m_props.cardVersions);
    }

    static std::string trimmed(std::string_view text)
    {
        constexpr std::string_view space = " \t\r\n";
        const std::size_t from = text.find_first_not_of(space);
        if (from == std::string_view::npos)
            return {};
        return std::string(text.substr(from, text.find_last_not_of(space) - from + 1));
    }

    MultistatusReader& m_reader;
    std::function<void(const DavResponse&)> m_onResponse;
    XML_Parser m_parser;
    std::vector<Element> m_open;
    std::string m_text;
    bool m_inText = false;
    bool m_sawRoot = false;
    bool m_stopped = false;
    bool m_inResponse = false;
    bool m_inPropstat = false;
    DavResponse m_response;
    DavResponse m_props;
    int m_propStatus = 0;
    std::string m_why;
};

MultistatusReader::MultistatusReader(std::function<void(const DavResponse&)> onResponse)
    : m_state(std::make_unique<State>(*this, std::move(onResponse)))
{
}

MultistatusReader::~MultistatusReader() = default;

bool MultistatusReader::feed(std::string_view piece)
{
    if (m_failed)
        return false;
    if (!m_state->parse(piece.data(), piece.size(), false)) {
        m_failed = true;
        m_error = m_state->why();
    }
    return !m_failed;
}

bool MultistatusReader::finish()
{
    if (m_failed)
        return false;
    if (!m_state->parse("", 0, true)) {
        m_failed = true;
        m_error = m_state->why();
    }
    return !m_failed;
}

} // namespace tesselby
