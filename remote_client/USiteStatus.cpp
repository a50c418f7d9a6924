#include "USiteStatus.h"

#include "Exceptions.h"
#include "Strings.h"

#include <new>

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

// The page is judged under the lease of its body, which covers its wide copy too. A page too large to search
// for want of memory is a page without the code. Only the page's head is kept, so that what the status objects
// hold between checks stays small however many sites send huge pages.
void TCheckSiteStatus::RunCheck()
{
    TCheckRequest request = TakeRequest();
    TMemoryLease lease(TMemoryBudget::Checks());
    TRetrieveOptions options = Retrieval;
    options.Lease = &lease;
    std::optional<std::string> body = TimedRetrieve(request.URL, options);
    if (!body) {
        StatusText = L"Failed to connect";
        StatusOk = false;
    } else {
        try {
            StatusOk = PageContainsCode(*body, request.CodeToCheck);
        } catch (const std::bad_alloc&) {
            StatusOk = false;
        }
        StatusText = StatusOk ? L"Code found" : L"Code not found";
        if (body->size() > kKeptPageBytes)
            body->resize(kKeptPageBytes);
        body->shrink_to_fit();
        PageText = std::move(*body);
    }
    FinishCheck(request.CheckIntevalMinutes);
}
