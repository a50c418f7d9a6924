// The proxy of a request as the user's Internet settings give it: a manual proxy with its bypass list, an
// automatic configuration script, or automatic detection, looked up per host and kept for a while.
#pragma once

#include <windows.h>
#include <winhttp.h>

#include <string>

struct TProxyChoice {
    enum class TKind {
        SystemDefault, // the user's settings could not be read: the system's own choice
        Direct,
        Named, // Proxy (WinHTTP's proxy list), Bypass its bypass list
    };
    TKind Kind = TKind::SystemDefault;
    std::wstring Proxy;
    std::wstring Bypass;
    bool operator==(const TProxyChoice&) const = default;
};

// The proxy for a request to url (scheme, host, port and path, without user information or fragment). The
// choice is kept per scheme, host and port for a minute; a script or a detection that fails falls back to the
// manual proxy, or to none. May take as long as the script's download: never call it where a window waits.
TProxyChoice ProxyForURL(const std::wstring& url);

// The shared WinHTTP session that sends requests as choice says, opened at its first use and kept for the life
// of the process (a session's proxy is fixed when it is opened). Null when none could be opened.
HINTERNET SessionForProxy(const TProxyChoice& choice);

// Drops what was looked up, so that the next request reads the user's settings again.
void ForgetProxyChoices();
