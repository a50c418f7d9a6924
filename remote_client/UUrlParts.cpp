#include "UUrlParts.h"

#include "Strings.h"

#include <shlwapi.h>
#include <winhttp.h>

#include <vector>

namespace {

int HexDigit(wchar_t c)
{
    if (c >= L'0' && c <= L'9')
        return c - L'0';
    if (c >= L'a' && c <= L'f')
        return c - L'a' + 10;
    if (c >= L'A' && c <= L'F')
        return c - L'A' + 10;
    return -1;
}

// %XX escapes are UTF-8 bytes, as browsers write them; other characters stand for themselves.
std::wstring DecodeEscapes(const std::wstring& text)
{
    std::wstring result;
    std::string bytes;
    auto flush = [&] {
        if (!bytes.empty()) {
            result += Utf8ToWide(bytes);
            bytes.clear();
        }
    };
    for (size_t i = 0; i < text.size(); ++i) {
        int high = -1, low = -1;
        if (text[i] == L'%' && i + 2 < text.size()) {
            high = HexDigit(text[i + 1]);
            low = HexDigit(text[i + 2]);
        }
        if (high >= 0 && low >= 0) {
            bytes.push_back(static_cast<char>(high * 16 + low));
            i += 2;
            continue;
        }
        flush();
        result.push_back(text[i]);
    }
    flush();
    return result;
}

bool IsAscii(const std::wstring& text)
{
    for (wchar_t c : text)
        if (c >= 0x80)
            return false;
    return true;
}

} // namespace

std::optional<std::wstring> HostToAscii(const std::wstring& host)
{
    if (IsAscii(host))
        return host;
    int n = IdnToAscii(0, host.c_str(), static_cast<int>(host.size()), nullptr, 0);
    if (n <= 0)
        return std::nullopt;
    std::wstring ascii(static_cast<size_t>(n), L'\0');
    n = IdnToAscii(0, host.c_str(), static_cast<int>(host.size()), ascii.data(), n);
    if (n <= 0)
        return std::nullopt;
    ascii.resize(static_cast<size_t>(n));
    return ascii;
}

std::optional<TUrlParts> SplitRequestURL(const std::wstring& url, DWORD& error)
{
    error = ERROR_WINHTTP_INVALID_URL;
    if (url.empty())
        return std::nullopt;
    // The fragment belongs to the reader of the page, never to the request.
    std::wstring sent = url.substr(0, url.find(L'#'));
    URL_COMPONENTS parts = {};
    parts.dwStructSize = sizeof(parts);
    parts.dwSchemeLength = parts.dwHostNameLength = parts.dwUrlPathLength = parts.dwExtraInfoLength =
        parts.dwUserNameLength = parts.dwPasswordLength = DWORD(-1);
    if (!WinHttpCrackUrl(sent.c_str(), static_cast<DWORD>(sent.size()), 0, &parts)) {
        error = GetLastError();
        return std::nullopt;
    }
    if (parts.nScheme != INTERNET_SCHEME_HTTP && parts.nScheme != INTERNET_SCHEME_HTTPS) {
        error = ERROR_WINHTTP_UNRECOGNIZED_SCHEME;
        return std::nullopt;
    }
    TUrlParts result;
    result.Secure = parts.nScheme == INTERNET_SCHEME_HTTPS;
    result.Port = parts.nPort;
    std::optional<std::wstring> host = HostToAscii(std::wstring(parts.lpszHostName, parts.dwHostNameLength));
    if (!host || host->empty())
        return std::nullopt;
    result.Host = *host;
    result.Object.assign(parts.lpszUrlPath, parts.dwUrlPathLength);
    result.Object.append(parts.lpszExtraInfo, parts.dwExtraInfoLength);
    if (result.Object.empty() || result.Object[0] != L'/')
        result.Object.insert(0, L"/");
    if (parts.lpszUserName && parts.dwUserNameLength) {
        result.Username = DecodeEscapes(std::wstring(parts.lpszUserName, parts.dwUserNameLength));
        result.Password =
            DecodeEscapes(parts.lpszPassword ? std::wstring(parts.lpszPassword, parts.dwPasswordLength) : L"");
    }
    return result;
}

std::optional<std::wstring> ResolveLocation(const std::wstring& base, const std::wstring& location)
{
    if (location.empty())
        return std::nullopt;
    std::vector<wchar_t> buffer(base.size() + location.size() + 64);
    DWORD size = static_cast<DWORD>(buffer.size());
    HRESULT hr = UrlCombineW(base.c_str(), location.c_str(), buffer.data(), &size, 0);
    if (hr == E_POINTER) {
        buffer.resize(size + 1);
        size = static_cast<DWORD>(buffer.size());
        hr = UrlCombineW(base.c_str(), location.c_str(), buffer.data(), &size, 0);
    }
    if (FAILED(hr))
        return std::nullopt;
    return std::wstring(buffer.data(), size);
}

bool SameHost(const std::wstring& a, const std::wstring& b)
{
    return CompareStringOrdinal(a.c_str(), static_cast<int>(a.size()), b.c_str(), static_cast<int>(b.size()), TRUE) ==
           CSTR_EQUAL;
}
