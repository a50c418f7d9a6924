// One GET of a URL as the platform's URL service would retrieve it, on WinHTTP, driving a binding-callback
// object with the same contract: bind flags, credentials, security problems, progress and abort.
#pragma once

#include "UMemoryBudget.h"

#include <windows.h>
#include <urlmon.h>

#include <cstddef>
#include <optional>
#include <string>

constexpr DWORD kCheckBindFlags = 0x22D30;
constexpr DWORD kDefaultRetrieveDeadlineMs = 60000;
constexpr size_t kMaxBodyBytes = 16u * 1024u * 1024u;
// As many redirects as WinHTTP follows by default; one more ends the request as a failed open.
constexpr int kMaxRedirects = 10;

struct TRetrieveOptions {
    // The whole request, from the first byte sent to the last byte read.
    DWORD DeadlineMs = kDefaultRetrieveDeadlineMs;
    size_t MaxBodyBytes = kMaxBodyBytes;
    // The lease under which a body beyond kFreeBodyBytes is held, kept by the caller while it judges the body;
    // without one the retrieval takes its own from the checks' budget, until it returns. A body that cannot get
    // its lease before the deadline ends where it is, as at the deadline.
    TMemoryLease* Lease = nullptr;
};

// One GET of url, driving callback (which may be null) as the platform's URL service would. Empty when the
// request could not be opened; otherwise the body as far as it could be read, whatever the HTTP status, which
// goes to httpStatus when it is given. Like the URL service, the retrieval fails no request for its status: an
// error page is a body like any other. The fragment of url is not sent; its user information answers the
// server's challenge before the callback's credentials; redirects are followed (at most kMaxRedirects), and the
// callback's credentials go only to the host of url.
std::optional<std::string> RetrieveURL(const std::wstring& url, IBindStatusCallback* callback,
                                       const TRetrieveOptions& options = {}, DWORD* httpStatus = nullptr);
