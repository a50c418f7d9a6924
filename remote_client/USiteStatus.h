// The runtime status of one monitored site: the page is fetched and searched for its code.
#pragma once

#include "UCheckSettings.h"
#include "UUtils.h"

#include <memory>
#include <string>

// Whether the page (8-bit, read in the ANSI code page) holds code exactly; an empty code is never found.
bool PageContainsCode(const std::string& page, const std::wstring& code);

constexpr size_t kKeptPageBytes = 64u * 1024u;

class TCheckSiteStatus : public TCheckStatusOf<ICheckStatus> {
public:
    explicit TCheckSiteStatus(std::shared_ptr<TCheckSiteSettings> settings, TClock clock = {});

    bool STDMETHODCALLTYPE GetActive() override;
    std::wstring STDMETHODCALLTYPE GetURL() override;
    void STDMETHODCALLTYPE RunCheck() override;
    TCredentials CheckCredentials() override;

    // Shared with the runner, which keeps it alive while a check runs.
    std::shared_ptr<TCheckSiteSettings> Settings;
    // The body of the last fetch that could be opened, its first kKeptPageBytes.
    std::string PageText;

protected:
    TCheckRequest ReadRequest() const override;
};
