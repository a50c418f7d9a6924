#include "USiteStatus.h"

#include "Exceptions.h"
#include "Strings.h"

bool PageContainsCode(const std::string& page, const std::wstring& code)
{
    return !code.empty() && AnsiToWide(page).find(code) != std::wstring::npos;
}

TCheckSiteStatus::TCheckSiteStatus(std::shared_ptr<TCheckSiteSettings> settings, TClock clock)
    : TCheckStatusOf<ICheckStatus>(std::move(clock)), Settings(std::move(settings))
{
    Assert(Settings != nullptr, "A site status needs its settings", "USiteStatus", __LINE__);
}

bool TCheckSiteStatus::GetActive() { return Settings->Active; }

std::wstring TCheckSiteStatus::GetURL() { return Settings->URL; }

TCheckRequest TCheckSiteStatus::ReadRequest() const
{
    TCheckRequest request;
    request.URL = Settings->URL;
    request.CodeToCheck = Settings->CodeToCheck;
    request.CheckIntevalMinutes = Settings->CheckIntevalMinutes;
    return request;
}

// Sites get no credentials: the page is judged as the server answers without them.
TCredentials TCheckSiteStatus::CheckCredentials() { return TCredentials{}; }

void TCheckSiteStatus::RunCheck()
{
    TCheckRequest request = TakeRequest();
    std::optional<std::string> body = RetrieveURL(request.URL, static_cast<IBindStatusCallback*>(this), Retrieval);
    if (!body) {
        StatusText = L"Failed to connect";
        StatusOk = false;
    } else {
        PageText = std::move(*body);
        StatusOk = PageContainsCode(PageText, request.CodeToCheck);
        StatusText = StatusOk ? L"Code found" : L"Code not found";
    }
    FinishCheck(request.CheckIntevalMinutes);
}
