#include "Exceptions.h"

#include "Strings.h"
#include "WinTools.h"

std::wstring Exception::WideMessage() const { return AnsiToWide(message_); }

EAssertionFailed::EAssertionFailed(const std::string& text, const std::string& unit, int line)
    : Exception(Format("%s (%s, line %d)", text.c_str(), unit.c_str(), line))
{
}

void AssertionFailed(const char* text, const char* unit, int line) { throw EAssertionFailed(text, unit, line); }

HRESULT OleCheck(HRESULT hr, const char* what)
{
    if (FAILED(hr)) {
        std::string text = SysErrorText(static_cast<DWORD>(hr));
        if (text.empty())
            text = Format("OLE error %08X", static_cast<unsigned>(hr));
        if (what && *what)
            text = std::string(what) + ": " + text;
        throw EOleError(text, hr);
    }
    return hr;
}
