// A request URL as a browser reads it: what goes to the server, what stays behind (the fragment), and what
// becomes the request's credentials (user information).
#pragma once

#include <windows.h>

#include <optional>
#include <string>

struct TUrlParts {
    bool Secure = false; // https
    // The host as it goes on the wire: an international name in its ASCII form (IDNA).
    std::wstring Host;
    WORD Port = 0;
    // Path and query as they go in the request line, "/" when the URL has none; the fragment is not part of it.
    std::wstring Object;
    // user:password@ before the host, percent-escapes decoded; absent when the URL has none.
    std::optional<std::wstring> Username;
    std::optional<std::wstring> Password;
};

// Splits an http or https URL; on failure returns nothing and sets error to a WinHTTP error code
// (ERROR_WINHTTP_INVALID_URL, ERROR_WINHTTP_UNRECOGNIZED_SCHEME).
std::optional<TUrlParts> SplitRequestURL(const std::wstring& url, DWORD& error);

// The ASCII form of a host name (labels with other letters become "xn--" labels); the name itself when it is
// ASCII already; nothing when it is not a valid international name.
std::optional<std::wstring> HostToAscii(const std::wstring& host);

// The absolute URL that a Location header names, read against the URL that answered with it.
std::optional<std::wstring> ResolveLocation(const std::wstring& base, const std::wstring& location);

// Whether two hosts are the same one (letter case aside).
bool SameHost(const std::wstring& a, const std::wstring& b);
